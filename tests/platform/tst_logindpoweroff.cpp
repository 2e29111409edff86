// Power-off through a stand-in systemd-logind: a private dbus-daemon started
// here, a service that owns org.freedesktop.login1 on it, and the runner's
// power-off at the end of a run. Needs dbus-daemon (Debian package
// dbus-daemon); without it the suite skips, except in CI (CI=true).

#include "platform/LogindPowerOff.h"
#include "platform/Notices.h"
#include "tests/helpers/RunnerRig.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <csignal>

// logind's Manager object. It answers in a thread of its own: the power-off
// call blocks the thread that makes it.
class Login1Standin : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QMutex mutex;
    QString refusal;           // empty: the call succeeds
    QList<QDBusMessage> calls; // as they arrived

public slots:
    void PowerOff(bool)
    {
        const QMutexLocker lock(&mutex);
        calls << message();
        if (!refusal.isEmpty())
            sendErrorReply(QStringLiteral("org.freedesktop.login1.OperationInhibited"), refusal);
    }
};

class TestLogindPowerOff : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QThread m_thread;
    Login1Standin *m_standin = nullptr; // lives in m_thread, deleted when it ends

private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() && qEnvironmentVariable("CI") == QLatin1String("true"))
            QFAIL("dbus-daemon is missing (Debian package dbus-daemon)");
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is missing (Debian package dbus-daemon)");
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QVERIFY(writeFile(config, R"(<busconfig><type>nelo-test</type><auth>EXTERNAL</auth>
<listen>unix:path=)" + QFile::encodeName(m_dir.filePath(QStringLiteral("bus"))) + R"(</listen>
<policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy>
</busconfig>)"));
        m_daemon.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                                QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        QVERIFY(m_daemon.waitForReadyRead(10000)); // the address, once the bus listens
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());

        QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("login1-standin"));
        QVERIFY2(bus.isConnected(), qPrintable(bus.lastError().message()));
        m_standin = new Login1Standin;
        m_standin->moveToThread(&m_thread);
        connect(&m_thread, &QThread::finished, m_standin, &QObject::deleteLater);
        m_thread.start();
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), m_standin,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.login1")));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("login1-standin"));
        m_thread.quit();
        m_thread.wait();
        if (m_daemon.processId() > 0) {
            ::kill(pid_t(m_daemon.processId()), SIGTERM);
            QVERIFY(m_daemon.waitForFinished(10000));
        }
    }

    // The call is logind's PowerOff(false) on its object and interface; it
    // reached the stand-in, so it was sent to the name the stand-in owns. A
    // refusal's text reaches the notice.
    void powerOffAtTheEndOfARun_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::newRow("accepted") << QString();
        QTest::newRow("refused") << QStringLiteral("Operation inhibited by \"backup\" (PID 42), reason is \"copying\".");
    }
    void powerOffAtTheEndOfARun()
    {
        QFETCH(QString, refusal);
        {
            const QMutexLocker lock(&m_standin->mutex);
            m_standin->refusal = refusal;
            m_standin->calls.clear();
        }
        QStringList notices;
        const auto previous = Notices::SetNoticePresenter([&](const QString &text) { notices << text; });
        RunnerRig rig;
        LogindPowerOff logind(m_address);
        JobRunner runner(rig.settings, rig.window, rig.clipboard, logind, rig.scanner);
        rig.window.powerOffChecked = true;
        runner.RunBtnClick(); // nothing ticked: the run ends at once, then the power-off
        Notices::SetNoticePresenter(previous);

        const QMutexLocker lock(&m_standin->mutex);
        QCOMPARE(m_standin->calls.size(), 1);
        const QDBusMessage &call = m_standin->calls.first();
        QCOMPARE((QStringList{call.path(), call.interface(), call.member(), call.signature()}),
                 (QStringList{"/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PowerOff", "b"}));
        QCOMPARE(call.arguments(), QVariantList{false});
        QCOMPARE(notices, refusal.isEmpty() ? QStringList() : QStringList{"Unable to power off the machine!\n" + refusal});
    }
};

QTEST_GUILESS_MAIN(TestLogindPowerOff)
#include "tst_logindpoweroff.moc"

// Power-off through a stand-in systemd-logind: a private dbus-daemon started
// here, a service that owns org.freedesktop.login1 on it, and the runner's
// power-off at the end of a run. Needs dbus-daemon (Debian package
// dbus-daemon); without it the suite skips, except in CI (CI=true).

#include "platform/LogindPowerOff.h"
#include "platform/Notices.h"
#include "tests/helpers/PrivateBus.h"
#include "tests/helpers/RunnerRig.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QMutex>
#include <QTest>

// logind's Manager object. It answers in a thread of its own (PrivateBus):
// the power-off call blocks the thread that makes it.
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

    PrivateBus m_bus;
    Login1Standin *m_standin = nullptr; // served by m_bus

private slots:
    void initTestCase()
    {
        NELO_START_PRIVATE_BUS(m_bus);
        m_standin = new Login1Standin;
        QVERIFY(m_bus.Serve(m_standin, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1")));
    }

    void cleanupTestCase() { m_bus.Stop(); }

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
        LogindPowerOff logind(m_bus.Address());
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

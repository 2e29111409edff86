// Desktop notifications through a stand-in notification server on a private
// dbus-daemon (PrivateBus): the call Nelo makes at the end of a real run of
// the examples in the main window, the default action bringing the window
// back, bodies for servers that read markup, and the fallback where no
// server answers. Needs dbus-daemon; without it the suite skips, except in
// CI (CI=true).

#include "platform/DesktopNotifications.h"
#include "tests/helpers/PrivateBus.h"
#include "tests/helpers/Recorders.h"
#include "tests/helpers/Standin.h"
#include "ui/NeloForm.h"

#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMutex>
#include <QTemporaryDir>
#include <QtTest>

// The freedesktop notification server: records every Notify and answers
// with the call's number as its id.
class NotificationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QMutex mutex;
    QStringList capabilities;
    QList<QDBusMessage> calls;

    QList<QDBusMessage> Calls()
    {
        const QMutexLocker lock(&mutex);
        return calls;
    }

public slots:
    QStringList GetCapabilities()
    {
        const QMutexLocker lock(&mutex);
        return capabilities;
    }
    uint Notify(const QString &, uint, const QString &, const QString &, const QString &, const QStringList &,
                const QVariantMap &, int)
    {
        const QMutexLocker lock(&mutex);
        calls << message();
        return uint(calls.size());
    }
};

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");

// What the server emits when the user clicks a notification.
bool invokeAction(uint id, const QString &action)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"), Service,
                                                     QStringLiteral("ActionInvoked"));
    signal << id << action;
    return QDBusConnection(Service).send(signal);
}

// The hints of a Notify call, with the image's width and height.
QVariantMap hintsOf(const QDBusMessage &call)
{
    QVariantMap hints = qdbus_cast<QVariantMap>(call.arguments().value(6));
    const QDBusArgument image = hints.value("image-data").value<QDBusArgument>();
    if (image.currentType() == QDBusArgument::StructureType) {
        int width = 0, height = 0;
        image.beginStructure();
        image >> width >> height;
        image.endStructure();
        hints["image-data"] = QStringLiteral("%1x%2").arg(width).arg(height);
    }
    return hints;
}

} // namespace

class TestDesktopNotifications : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    NotificationServer *m_server = nullptr; // served by m_bus

    void setCapabilities(const QStringList &capabilities)
    {
        const QMutexLocker lock(&m_server->mutex);
        m_server->capabilities = capabilities;
        m_server->calls.clear();
    }

private slots:
    void initTestCase()
    {
        NELO_START_PRIVATE_BUS(m_bus);
        m_server = new NotificationServer;
        QVERIFY(m_bus.Serve(m_server, QStringLiteral("/org/freedesktop/Notifications"), Service));
    }

    void cleanupTestCase() { m_bus.Stop(); }

    // The examples run in the main window, the failing one last: one
    // notification, "Queue done", from Nelo with its icon and a default
    // action that brings the hidden window back (a click on another
    // program's notification does not).
    void queueDoneBringsTheWindowBack()
    {
        setCapabilities({"actions", "body"});
        QTemporaryDir dir;
        const QString settings = dir.filePath("nelo.INI");
        QVERIFY(writeFile(settings, "[Settings]\nEXEFile=/x\nDirList=/tmp\n"));
        ClipboardRecorder clipboard;
        PowerOffRecorder powerOff;
        TForm1::Environment environment;
        environment.arguments = QStringList{"nelo"};
        environment.settingsFile = settings;
        environment.clipboard = &clipboard;
        environment.powerOff = &powerOff;
        environment.trayAvailable = [] { return true; };
        environment.notificationBus = m_bus.Address();
        TForm1 form(environment);
        form.FormCreate();
        setStandinAsFirefly(form.JobSettings(), dir.filePath("work"));
        unsetStandinControls();
        qputenv("FIREFLY_STANDIN_PACE", "0");
        for (const char *name : {"water-optimise", "methane-energy", "ammonium-fails"}) {
            QVERIFY(QFile::copy(NELO_EXAMPLES_DIR "/" + QString(name) + ".inp", dir.filePath(name + QString(".inp"))));
            form.AddJob(dir.filePath(name + QString(".inp")));
        }
        form.hide();
        form.RunBtnClick();

        QTRY_COMPARE(m_server->Calls().size(), 1);
        const QDBusMessage call = m_server->Calls().first();
        QCOMPARE((QStringList{call.path(), call.interface(), call.member(), call.signature()}),
                 (QStringList{"/org/freedesktop/Notifications", Service, "Notify", "susssasa{sv}i"}));
        const QVariantList arguments = call.arguments();
        QCOMPARE(arguments.mid(0, 5), (QVariantList{"Nelo", 0u, "nelo", "Queue done: 3 jobs",
                                                    "2 ended normally, 1 ended abnormally\nFailed: ammonium-fails.out"}));
        QCOMPARE(arguments.at(5).toStringList().mid(0, 1), QStringList{"default"});
        QCOMPARE(hintsOf(call), (QVariantMap{{"desktop-entry", "nelo"}, {"image-data", "48x48"}}));
        QVERIFY(!form.isVisible());
        QVERIFY(invokeAction(1, "other"));
        QVERIFY(invokeAction(7, "default"));
        QTest::qWait(300);
        QVERIFY(!form.isVisible());
        QVERIFY(invokeAction(1, "default"));
        QTRY_VERIFY(form.isVisible());
    }

    // A server that reads markup in bodies gets them escaped: names are
    // shown as they are.
    void bodiesForMarkup_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        QTest::newRow("plain text") << QStringList{"body"} << "Failed: a&b <1>.out";
        QTest::newRow("markup") << QStringList{"body", "body-markup"} << "Failed: a&amp;b &lt;1&gt;.out";
    }
    void bodiesForMarkup()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        setCapabilities(capabilities);
        DesktopNotifications notifications("Nelo", "nelo", m_bus.Address());
        notifications.Notify("Queue done: 1 job", "Failed: a&b <1>.out");
        QTRY_COMPARE(m_server->Calls().size(), 1);
        QCOMPARE(m_server->Calls().first().arguments().at(4).toString(), body);
    }

    // Without a server on the bus, or without a bus, the fallback shows the
    // same texts.
    void fallbackWithoutServer()
    {
        PrivateBus empty;
        NELO_START_PRIVATE_BUS(empty);
        QStringList shown;
        for (const QString &address : {empty.Address(), QStringLiteral("unix:path=/nonexistent/bus")}) {
            DesktopNotifications notifications("Nelo", "nelo", address);
            notifications.SetFallback([&](const QString &summary, const QString &body) { shown << summary << body; });
            notifications.Notify("Job failed: a.out", "Killed by a signal or crashed");
            QTRY_COMPARE(shown, (QStringList{"Job failed: a.out", "Killed by a signal or crashed"}));
            shown.clear();
        }
    }
};

QTEST_MAIN(TestDesktopNotifications)
#include "tst_desktopnotifications.moc"

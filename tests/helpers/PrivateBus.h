#pragma once

// A private D-Bus message bus for one suite: a dbus-daemon started by the
// suite, in a temporary folder, that nothing else on the machine uses, and
// stand-in services on it (logind, a notification server). The code under
// test is pointed at the bus by its address. Needs dbus-daemon (Debian
// package dbus-daemon).
//
// In initTestCase: NELO_START_PRIVATE_BUS(m_bus); without dbus-daemon the
// suite skips, except under CI (CI=true), where it fails.

#include "tests/helpers/Files.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

class PrivateBus
{
public:
    ~PrivateBus() { Stop(); }

    static QString Daemon() { return QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")); }

    // Starts the daemon; false (with the reason in `why`) when it does not
    // come up.
    bool Start(QString *why)
    {
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        if (!writeFile(config, R"(<busconfig><type>nelo-test</type><auth>EXTERNAL</auth>
<listen>unix:path=)" + QFile::encodeName(m_dir.filePath(QStringLiteral("bus"))) + R"(</listen>
<policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy>
</busconfig>)")) {
            *why = QStringLiteral("cannot write ") + config;
            return false;
        }
        m_daemon.start(Daemon(), {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                                  QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForReadyRead(10000)) { // the address, once the bus listens
            *why = QStringLiteral("dbus-daemon did not start: ") + m_daemon.errorString();
            return false;
        }
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        m_thread.start();
        return true;
    }

    QString Address() const { return m_address; }

    // Serves `object` (heap-allocated; the bus takes it) at `path` under
    // the well-known name `service`, in a thread of its own, so that a call
    // that blocks its caller is answered all the same. Its connection is
    // named after the service.
    bool Serve(QObject *object, const QString &path, const QString &service)
    {
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, service);
        if (!bus.isConnected())
            return false;
        object->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, object, &QObject::deleteLater);
        m_services << service;
        return bus.registerObject(path, object, QDBusConnection::ExportAllSlots) && bus.registerService(service);
    }

    void Stop()
    {
        for (const QString &service : std::as_const(m_services))
            QDBusConnection::disconnectFromBus(service);
        m_services.clear();
        m_thread.quit();
        m_thread.wait();
        if (m_daemon.processId() > 0) {
            ::kill(pid_t(m_daemon.processId()), SIGTERM);
            m_daemon.waitForFinished(10000);
        }
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QThread m_thread;
    QStringList m_services;
};

#define NELO_START_PRIVATE_BUS(bus)                                                                                    \
    do {                                                                                                               \
        if (PrivateBus::Daemon().isEmpty()) {                                                                          \
            if (qgetenv("CI") == "true")                                                                               \
                QFAIL("dbus-daemon is missing (Debian package dbus-daemon; CI=true: the bus suites must run)");       \
            QSKIP("dbus-daemon is missing (Debian package dbus-daemon)");                                              \
        }                                                                                                              \
        QString whyNoBus;                                                                                              \
        QVERIFY2((bus).Start(&whyNoBus), qPrintable(whyNoBus));                                                        \
    } while (false)

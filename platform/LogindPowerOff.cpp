#include "platform/LogindPowerOff.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDebug>

void LogindPowerOff::PowerOff()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
    call << false; // not interactive: no authentication prompt
    const QDBusMessage reply = QDBusConnection::systemBus().call(call);
    if (reply.type() == QDBusMessage::ErrorMessage)
        qWarning().noquote() << "Power-off refused:" << reply.errorName() << reply.errorMessage();
}

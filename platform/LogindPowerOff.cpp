#include "platform/LogindPowerOff.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <utility>

LogindPowerOff::LogindPowerOff(QString busAddress) : m_busAddress(std::move(busAddress)) {}

QString LogindPowerOff::PowerOff()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
    call << false; // not interactive: no authentication prompt
    const QDBusConnection bus = m_busAddress.isEmpty()
                                    ? QDBusConnection::systemBus()
                                    : QDBusConnection::connectToBus(m_busAddress, QStringLiteral("nelo-") + m_busAddress);
    const QDBusMessage reply = bus.call(call);
    if (reply.type() != QDBusMessage::ErrorMessage)
        return QString();
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

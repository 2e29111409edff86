#include "platform/DesktopNotifications.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
// Long enough for a notification server that D-Bus starts on demand.
constexpr int CallTimeoutMs = 10000;

QDBusConnection busAt(const QString &address)
{
    if (address.isEmpty())
        return QDBusConnection::sessionBus();
    return QDBusConnection::connectToBus(address, QStringLiteral("nelo-notifications-") + address);
}

} // namespace

DesktopNotifications::DesktopNotifications(QString appName, QString appIcon, const QString &busAddress,
                                           QObject *parent)
    : QObject(parent), m_appName(std::move(appName)), m_appIcon(std::move(appIcon)), m_bus(busAt(busAddress))
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(actionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
}

void DesktopNotifications::Notify(const QString &summary, const QString &body)
{
    if (!m_bus.isConnected()) {
        m_waiting << Pending{summary, body};
        noService();
        return;
    }
    if (m_knowsService) {
        send({summary, body});
        return;
    }
    m_waiting << Pending{summary, body};
    if (!m_asking)
        askCapabilities();
}

// Whether the service reads markup in bodies decides how they are sent; the
// answer also tells whether there is a service at all.
void DesktopNotifications::askCapabilities()
{
    m_asking = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        m_asking = false;
        const QDBusPendingReply<QStringList> reply = *finished;
        if (reply.isError()) {
            noService();
            return;
        }
        m_knowsService = true;
        m_markup = reply.value().contains(QStringLiteral("body-markup"));
        for (const Pending &notification : std::exchange(m_waiting, {}))
            send(notification);
    });
}

void DesktopNotifications::send(const Pending &notification)
{
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("nelo"));
    if (!m_image.rgba.isEmpty()) {
        // (iiibiiay): width, height, row stride, alpha, bits per channel, channels, pixels.
        QDBusArgument image;
        image.beginStructure();
        image << m_image.width << m_image.height << m_image.rowStride << true << 8 << 4 << m_image.rgba;
        image.endStructure();
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(image));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    call << m_appName << 0u << m_appIcon << notification.summary
         << (m_markup ? notification.body.toHtmlEscaped() : notification.body)
         << QStringList{QStringLiteral("default"), QStringLiteral("Show Nelo")} << hints << -1;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, notification](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        if (!reply.isError()) {
            m_shown.insert(reply.value());
            return;
        }
        // The service has gone: ask again next time, and show this one another way.
        m_knowsService = false;
        m_waiting << notification;
        noService();
    });
}

void DesktopNotifications::noService()
{
    for (const Pending &notification : std::exchange(m_waiting, {})) {
        if (m_fallback)
            m_fallback(notification.summary, notification.body);
    }
}

void DesktopNotifications::actionInvoked(uint id, const QString &action)
{
    if (action == QLatin1String("default") && m_shown.contains(id))
        emit Activated();
}

void DesktopNotifications::notificationClosed(uint id, uint)
{
    m_shown.remove(id);
}

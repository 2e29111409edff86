#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

// Desktop notifications through the freedesktop notification service:
// org.freedesktop.Notifications.Notify on the session bus, with Nelo's name
// and icon and a default action (a click on the notification) that emits
// Activated. The service is called asynchronously, so a slow or hanging
// desktop never stops Nelo. Where the bus or the service is missing, the
// fallback (the tray icon's balloon) shows the same texts; without one,
// nothing is shown. Bodies are escaped for servers that read markup in
// them, so a file name is always shown as it is.
class DesktopNotifications : public QObject
{
    Q_OBJECT

public:
    // The application icon as pixels, for the "image-data" hint: RGBA, 8
    // bits a channel, rows of `rowStride` bytes.
    struct Image
    {
        int width = 0;
        int height = 0;
        int rowStride = 0;
        QByteArray rgba;
    };
    using Fallback = std::function<void(const QString &summary, const QString &body)>;

    // appIcon: an icon name of the desktop's theme ("nelo") or a path. On the
    // session bus, or on the bus at busAddress ("unix:path=...", tests).
    DesktopNotifications(QString appName, QString appIcon, const QString &busAddress = QString(),
                         QObject *parent = nullptr);

    void SetImage(Image image) { m_image = std::move(image); }
    void SetFallback(Fallback fallback) { m_fallback = std::move(fallback); }

    void Notify(const QString &summary, const QString &body);

signals:
    // The default action of one of Nelo's notifications was invoked.
    void Activated();

private slots:
    void actionInvoked(uint id, const QString &action);
    void notificationClosed(uint id, uint reason);

private:
    struct Pending
    {
        QString summary;
        QString body;
    };
    void askCapabilities();
    void send(const Pending &notification);
    void noService();

    QString m_appName;
    QString m_appIcon;
    QDBusConnection m_bus;
    Image m_image;
    Fallback m_fallback;
    QList<Pending> m_waiting;    // until the service has told what it can do
    bool m_asking = false;
    bool m_knowsService = false; // the service answered GetCapabilities
    bool m_markup = false;       // it reads markup in bodies
    QSet<uint> m_shown;          // ids of Nelo's notifications not yet closed
};

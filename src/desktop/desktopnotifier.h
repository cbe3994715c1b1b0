#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>

// Desktop notifications through the freedesktop notification service on the session bus. Where no bus
// or no such service is there, nothing is shown and nothing is said: the program's own window already
// tells the same. Nothing waits for the service; its answer arrives later.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    static inline const QString Service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString Path = QStringLiteral("/org/freedesktop/Notifications");

    explicit DesktopNotifier(QObject *parent = nullptr);

    // Sends the notification; false when there is no bus to send it on. A later notification replaces
    // the one before it, so the desktop does not pile them up.
    bool notify(const QString &summary, const QString &body);

Q_SIGNALS:
    // The service's answer: shown, or not (no service, or it refused).
    void answered(bool shown);

private:
    // Tests send on a bus of their own, through the door in their support.
    friend struct NotifierSeam;
    // Another bus than the session bus.
    void setBus(const QDBusConnection &bus) { m_bus = bus; }

    QDBusConnection bus();

    std::optional<QDBusConnection> m_bus;
    uint m_lastId = 0;
};

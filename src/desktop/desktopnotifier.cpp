#include "desktop/desktopnotifier.h"

#include "core/common/messenger.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

DesktopNotifier::DesktopNotifier(QObject *parent) : QObject(parent) {}

QDBusConnection DesktopNotifier::bus()
{
    // Asked only when there is something to say: a program that never notifies never opens the bus.
    if (!m_bus)
        m_bus = QDBusConnection::sessionBus();
    return *m_bus;
}

bool DesktopNotifier::notify(const QString &summary, const QString &body)
{
    QDBusConnection connection = bus();
    if (!connection.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    // No service is started for this: where none runs, the bus answers at once that there is none.
    call.setAutoStartService(false);
    call << kAppTitle << m_lastId << QStringLiteral("folionexus") << summary << body << QStringList()
         << QVariantMap() << -1;
    auto *watcher = new QDBusPendingCallWatcher(connection.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        if (!reply.isError())
            m_lastId = reply.value();
        Q_EMIT answered(!reply.isError());
    });
    return true;
}

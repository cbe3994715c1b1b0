#pragma once

// A session bus of the test's own, and a stand-in for the desktop's notification service on it.
// Header only: a test that uses it lists this file among its sources.
#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace fntest {

// A dbus-daemon started for the test and ended with it; no address when dbus-daemon is not installed.
class PrivateBus
{
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !m_dir.isValid())
            return;
        m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address=1"),
                                QStringLiteral("--address=unix:dir=") + m_dir.path()});
        if (!m_daemon.waitForStarted(5000))
            return;
        QElapsedTimer waited;
        waited.start();
        while (!m_daemon.canReadLine() && waited.elapsed() < 5000)
            m_daemon.waitForReadyRead(100);
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
    }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    QString address() const { return m_address; }
    // A connection of its own to the bus, under a name no other connection of the test uses.
    QDBusConnection connect(const QString &name) const
    {
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// Stands in for the desktop's notification service and remembers what it was asked to show.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown
    {
        QString app;
        uint replaces = 0;
        QString summary;
        QString body;
    };
    QList<Shown> shown;

    // Serves on the connection as the notification service.
    bool serve(QDBusConnection connection)
    {
        return connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                         QDBusConnection::ExportAllSlots) &&
               connection.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

public Q_SLOTS:
    uint Notify(const QString &app, uint replaces, const QString &, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &, int)
    {
        shown.append({app, replaces, summary, body});
        return 100 + static_cast<uint>(shown.size());
    }
};

} // namespace fntest

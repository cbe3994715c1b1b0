// Desktop notifications: shown by a notification service on the bus, and nothing at all (no error, no
// message) where there is no bus or no service. The bus is a private one the test starts.
#include "common/desktopnotifier.h"
#include "common/messenger.h"
#include "testenv.h"

#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

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

public Q_SLOTS:
    uint Notify(const QString &app, uint replaces, const QString &, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &, int)
    {
        shown.append({app, replaces, summary, body});
        return 100 + static_cast<uint>(shown.size());
    }
};

} // namespace

class TestNotifier : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;

private Q_SLOTS:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return; // the tests that need a bus say so
        m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address=1"),
                                QStringLiteral("--address=unix:dir=") + m_dir.path()});
        QVERIFY(m_daemon.waitForStarted(5000));
        QTRY_VERIFY(m_daemon.canReadLine());
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());
    }

    void cleanupTestCase()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
    }

    void withoutABusNothingHappens()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        DesktopNotifier notifier;
        notifier.setBus(QDBusConnection(QStringLiteral("never connected")));
        QSignalSpy answered(&notifier, &DesktopNotifier::answered);
        fntest::MessageRecorder messages;
        QVERIFY(!notifier.notify(QStringLiteral("下载结束"), QStringLiteral("完成 1 个")));
        QCoreApplication::processEvents();
        QVERIFY(answered.isEmpty());
        QVERIFY(messages.messages.isEmpty());
    }

    void withoutAServiceNothingIsShown()
    {
        if (m_address.isEmpty())
            QSKIP("dbus-daemon is not installed");
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        const QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("client-alone"));
        QVERIFY(bus.isConnected());
        QVERIFY(!bus.interface()->isServiceRegistered(DesktopNotifier::Service));
        DesktopNotifier notifier;
        notifier.setBus(bus);
        QSignalSpy answered(&notifier, &DesktopNotifier::answered);
        fntest::MessageRecorder messages;
        QVERIFY(notifier.notify(QStringLiteral("下载结束"), QStringLiteral("完成 1 个")));
        QVERIFY(answered.wait(5000));
        QCOMPARE(answered.first().first().toBool(), false);
        QVERIFY(messages.messages.isEmpty());
        QDBusConnection::disconnectFromBus(QStringLiteral("client-alone"));
    }

    void aServiceShowsItAndTheNextReplacesIt()
    {
        if (m_address.isEmpty())
            QSKIP("dbus-daemon is not installed");
        QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
        FakeNotifications fake;
        QVERIFY(service.registerObject(DesktopNotifier::Path, &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(DesktopNotifier::Service));

        DesktopNotifier notifier;
        notifier.setBus(QDBusConnection::connectToBus(m_address, QStringLiteral("client")));
        QSignalSpy answered(&notifier, &DesktopNotifier::answered);
        QVERIFY(notifier.notify(QStringLiteral("下载结束"),
                                QStringLiteral("完成 12 个，失败 1 个，用时 3分05秒")));
        QVERIFY(answered.wait(5000));
        QCOMPARE(answered.first().first().toBool(), true);
        QCOMPARE(fake.shown.size(), 1);
        QCOMPARE(fake.shown.at(0).app, kAppTitle);
        QCOMPARE(fake.shown.at(0).summary, QStringLiteral("下载结束"));
        QCOMPARE(fake.shown.at(0).body, QStringLiteral("完成 12 个，失败 1 个，用时 3分05秒"));
        QCOMPARE(fake.shown.at(0).replaces, 0u);

        QVERIFY(
            notifier.notify(QStringLiteral("下载停止"), QStringLiteral("完成 0 个，失败 2 个，用时 5秒")));
        QTRY_COMPARE(answered.size(), 2);
        QCOMPARE(fake.shown.size(), 2);
        QCOMPARE(fake.shown.at(1).replaces, 101u); // the id the first one was given
        service.unregisterService(DesktopNotifier::Service);
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }
};

FN_TEST_MAIN_CORE(TestNotifier)
#include "tst_notifier.moc"

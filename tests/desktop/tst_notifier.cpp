// Desktop notifications: shown by a notification service on the bus, and nothing at all (no error, no
// message) where there is no bus or no service. The bus is a private one the test starts.
#include "core/common/messenger.h"
#include "desktop/desktopnotifier.h"
#include "notifierseam.h"
#include "privatebus.h"
#include "testenv.h"

#include <QDBusConnectionInterface>
#include <QSignalSpy>

class TestNotifier : public QObject
{
    Q_OBJECT

    fntest::PrivateBus m_bus;
    QString m_address = m_bus.address();

private Q_SLOTS:
    void withoutABusNothingHappens()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        DesktopNotifier notifier;
        NotifierSeam::setBus(notifier, QDBusConnection(QStringLiteral("never connected")));
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
        NotifierSeam::setBus(notifier, bus);
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
        QDBusConnection service = m_bus.connect(QStringLiteral("service"));
        fntest::FakeNotifications fake;
        QVERIFY(fake.serve(service));

        DesktopNotifier notifier;
        NotifierSeam::setBus(notifier, QDBusConnection::connectToBus(m_address, QStringLiteral("client")));
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

#include "browser/browserprofile.h"
#include "faultserver.h"
#include "testenv.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineProfile>
#include <QWebEngineView>

class TestBrowser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void profileIsPersistentAndUnderTheUsersCache()
    {
        QWebEngineProfile *profile = programProfile();
        QVERIFY(!profile->isOffTheRecord());
        QCOMPARE(profile->storageName(), programProfileName());
        QVERIFY(browserCacheFolder().startsWith(QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME"))));
        QVERIFY(browserCacheFolder().endsWith(QStringLiteral("/Cache/Cache_Data")));
        QVERIFY(!browserCacheRelativePath().startsWith(u'/'));
    }

    void newWindowRequestsLoadInTheSameViewAndDialogsStaySilent()
    {
        QTemporaryDir dir;
        fntest::writeFile(dir.path() + "/target.html", "<html><title>target</title><body>t</body></html>");
        fntest::writeFile(dir.path() + "/start.html",
                          "<html><body><script>alert('x'); confirm('y');</script>"
                          "<a id=l target=_blank href='target.html'>go</a></body></html>");
        QWebEngineView view;
        auto *page = new SilentWebPage(programProfile(), &view);
        view.setPage(page);
        QSignalSpy loaded(page, &QWebEnginePage::loadFinished);
        page->load(QUrl::fromLocalFile(dir.path() + "/start.html"));
        QVERIFY(loaded.wait(20000));
        QSignalSpy redirected(page, &SilentWebPage::newWindowRedirected);
        page->runJavaScript(QStringLiteral("document.getElementById('l').click()"));
        QVERIFY(redirected.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(page->url().fileName(), QStringLiteral("target.html"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(page->title(), QStringLiteral("target"), 20000);
    }

    void aNewWindowsAddressIsRequestedOnce_data()
    {
        QTest::addColumn<QByteArray>("click");
        QTest::newRow("link with target _blank") << QByteArray("document.getElementById('blank').click()");
        QTest::newRow("window.open, then an address")
            << QByteArray("window.open('').location = '/target.html'");
    }

    void aNewWindowsAddressIsRequestedOnce()
    {
        QFETCH(QByteArray, click);
        FaultServer server;
        QVERIFY(server.listen());
        FaultServer::Reply start;
        start.contentType = "text/html";
        start.body = "<html><body><a id=blank target=_blank href='/target.html'>go</a></body></html>";
        server.setReply(QStringLiteral("/start.html"), start);
        FaultServer::Reply target;
        target.contentType = "text/html";
        target.body = "<html><title>target</title><body>t</body></html>";
        server.setReply(QStringLiteral("/target.html"), target);

        QWebEngineView view;
        auto *page = new SilentWebPage(programProfile(), &view);
        view.setPage(page);
        QSignalSpy loaded(page, &QWebEnginePage::loadFinished);
        page->load(server.url(QStringLiteral("/start.html")));
        QVERIFY(loaded.wait(20000));
        loaded.clear();
        const int pagesBefore = page->findChildren<QWebEnginePage *>().size();
        page->runJavaScript(QString::fromLatin1(click));
        QTRY_VERIFY_WITH_TIMEOUT(
            !loaded.isEmpty() && page->url() == server.url(QStringLiteral("/target.html")), 20000);
        QCOMPARE(page->title(), QStringLiteral("target"));
        QCOMPARE(server.requestCount(QStringLiteral("/target.html")), 1);
        // The listener has detached itself.
        QTRY_COMPARE(page->findChildren<QWebEnginePage *>().size(), pagesBefore);
    }
};

FN_TEST_MAIN_GUI(TestBrowser)
#include "tst_browser.moc"

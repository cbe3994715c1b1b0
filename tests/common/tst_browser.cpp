#include "common/browserprofile.h"
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
};

FN_TEST_MAIN_GUI(TestBrowser)
#include "tst_browser.moc"

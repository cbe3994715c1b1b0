#include "demo/demosite.h"
#include "testenv.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

// The demo site's verification page as a person meets it: in a real browser page.
class TestDemoBrowser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void verificationFormSubmittedInTheBrowserUnlocksPapers()
    {
        DemoSite site;
        QVERIFY(site.listen());
        site.faults().setVerifyAfter(0);

        QWebEngineProfile profile; // off the record: nothing stays behind
        QByteArray verified;
        connect(profile.cookieStore(), &QWebEngineCookieStore::cookieAdded, this,
                [&](const QNetworkCookie &cookie) {
                    if (cookie.name() == DemoFaults::verificationCookieName().toLatin1())
                        verified = cookie.value();
                });
        QWebEnginePage page(&profile);
        QSignalSpy loaded(&page, &QWebEnginePage::loadFinished);
        page.load(site.paperFileUrl(1));
        QVERIFY(loaded.wait(30000));
        QCOMPARE(loaded.takeFirst().at(0).toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(page.title(), u"请完成验证 - 墨枢演示文献库"_qs, 10000);
        QCOMPARE(site.faults().papersServed(), 0);

        QSignalSpy served(&site, &DemoSite::requestServed);
        page.runJavaScript(u"document.getElementById('verify').click()"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(page.title(), u"验证成功 - 墨枢演示文献库"_qs, 30000);
        QStringList paths;
        for (const QList<QVariant> &signal : served)
            paths.append(signal.at(0).toString());
        QVERIFY2(paths.contains(u"/verify"_qs), qPrintable(paths.join(u' ')));
        QTRY_VERIFY_WITH_TIMEOUT(!verified.isEmpty(), 10000);

        // The browser's cookie is what unlocks the papers, for any client that carries it.
        QNetworkAccessManager nam;
        QNetworkRequest request(site.paperFileUrl(1));
        request.setRawHeader("Cookie", DemoFaults::verificationCookieName().toLatin1() + '=' + verified);
        QNetworkReply *reply = nam.get(request);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->readAll(), site.paperBytes(1));
        reply->deleteLater();
    }
};

FN_TEST_MAIN_GUI(TestDemoBrowser)
#include "tst_demobrowser.moc"

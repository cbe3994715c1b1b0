#include "browser/browserprofile.h"
#include "demo/demosite.h"
#include "testenv.h"
#include "testrun.h"
#include "ui/appwindows.h"
#include "ui/loginpanel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEnginePage>

// The login panel's address box starts with the address of the site the user is searching, so a
// login needs no address typed from elsewhere.
class TestLoginOffer : public QObject
{
    Q_OBJECT

    DemoSite m_site;

    static bool load(fWebSearch *search, const QUrl &url)
    {
        QSignalSpy loaded(search->page(), &QWebEnginePage::loadFinished);
        search->page()->load(url);
        return QTest::qWaitFor(
            [&] { return !loaded.isEmpty() && loaded.last().at(0).toBool() && search->page()->url() == url; },
            20000);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_site.listen()); }

    void panelOffersTheSearchedSite()
    {
        AppWindows windows(m_site.homeUrl(), TestOptions::store(), fntest::siteRules());
        windows.setLoginPage(m_site.loginUrl());
        fWebSearch *search = windows.showSearchWindow();
        QTRY_COMPARE_WITH_TIMEOUT(search->page()->url(), m_site.homeUrl(), 20000);
        QVERIFY(load(search, m_site.searchUrl(QStringLiteral("纳米"))));

        fFileDownload *download = windows.ensureDownloadWindow();
        download->show();
        LoginPanel *panel = download->PicWebBK;
        QVERIFY(panel->Text1->text().isEmpty()); // nothing before the panel is opened
        download->webLogin();
        QCOMPARE(panel->Text1->text(), m_site.loginUrl().toString());

        // What the user typed stays; a box emptied by "关闭(隐藏)" gets the offer again.
        panel->Text1->setText(QStringLiteral("http://127.0.0.1:1/mine"));
        panel->hide();
        download->webLogin();
        QCOMPARE(panel->Text1->text(), QStringLiteral("http://127.0.0.1:1/mine"));
        panel->Command3->click();
        QVERIFY(panel->Text1->text().isEmpty());
        download->webLogin();
        QCOMPARE(panel->Text1->text(), m_site.loginUrl().toString());
        panel->Command3->click();

        // Another site in the search window: its root is offered when the panel opens again.
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::LocalHost));
        connect(&other, &QTcpServer::newConnection, this, [&other] {
            while (QTcpSocket *s = other.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [s] {
                    s->readAll();
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                             "20\r\nConnection: close\r\n\r\n"
                             "<html>other</html>\r\n");
                    s->disconnectFromHost();
                });
            }
        });
        const QUrl otherPage(QStringLiteral("http://127.0.0.1:%1/search/page?q=1").arg(other.serverPort()));
        QVERIFY(load(search, otherPage));
        download->webLogin();
        QCOMPARE(panel->Text1->text(), QStringLiteral("http://127.0.0.1:%1/").arg(other.serverPort()));
    }

    void panelOffersTheLoginPageThatTheSitesRulesName()
    {
        AppWindows windows(m_site.homeUrl(), TestOptions::store(),
                           fntest::siteRules()); // no login page given
        fWebSearch *search = windows.showSearchWindow();
        QTRY_COMPARE_WITH_TIMEOUT(search->page()->url(), m_site.homeUrl(), 20000);
        QVERIFY(load(search, m_site.homeUrl().resolved(QUrl(QStringLiteral("/cards/search?q=")))));
        fFileDownload *download = windows.ensureDownloadWindow();
        download->show();
        LoginPanel *panel = download->PicWebBK;
        download->webLogin();
        QCOMPARE(panel->Text1->text(), m_site.loginUrl().toString());
        // The rules of the table pages name no login page: the site's root is offered.
        panel->Command3->click();
        QVERIFY(load(search, m_site.searchUrl(QStringLiteral("x"))));
        download->webLogin();
        QCOMPARE(panel->Text1->text(), m_site.homeUrl().resolved(QUrl(QStringLiteral("/"))).toString());
        panel->Command3->click();
    }
};

FN_TEST_MAIN_GUI(TestLoginOffer)
#include "tst_loginoffer.moc"

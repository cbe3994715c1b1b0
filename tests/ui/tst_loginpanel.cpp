#include "browser/browserprofile.h"
#include "browser/cookiemirror.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "testenv.h"
#include "testrows.h"
#include "testrun.h"
#include "ui/downloadwindow.h"
#include "ui/loginpanel.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

// A small web site on 127.0.0.1: login forms, a welcome page that sets a cookie, and a page whose body
// never ends.
class LoginSite : public QObject
{
public:
    LoginSite()
    {
        pages.insert("/login",
                     "<html><head><title>Site login</title></head><body><form method=get action='/welcome'>"
                     "<input name=login value=''><input name=UserName><input type=password name=PassWord>"
                     "<input type=SUBMIT value=go><input name=user value=after></form></body></html>");
        pages.insert("/early", "<html><body><form method=get action='/welcome'><input type=submit value=go>"
                               "<input name=userid><input name=passwd></form></body></html>");
        pages.insert("/row", "<html><head><title>A paper</title></head><body>a paper's page</body></html>");
        pages.insert("/closer",
                     "<html><head><title>closer</title></head><body>"
                     "<script>setTimeout(function(){window.close();},10);</script>bye</body></html>");
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }

    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
    }

    QStringList requests; // request targets in arrival order
    QHash<QByteArray, QByteArray> pages;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        buffer.remove(0, end + 4);
        const QByteArray target = requestLine.value(1);
        requests << QString::fromUtf8(target);
        const QByteArray path = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
        if (path == "/slowlogin") {
            // The login page, a while after it was asked for.
            QTimer::singleShot(1500, socket, [socket, body = pages.value("/login")] {
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
            return;
        }
        if (path == "/moved") {
            socket->write("HTTP/1.1 302 Found\r\nLocation: /slowlogin\r\nContent-Length: 0\r\nConnection: "
                          "close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        if (path == "/never") {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n"
                          "<html><head><title>slow</title></head><body>");
            return; // the rest never comes
        }
        QByteArray body;
        QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n";
        if (path == "/welcome") {
            body = "<html><head><title>Welcome</title></head><body>in</body></html>";
            head += "Set-Cookie: sid=logged-in; Path=/\r\n";
        } else if (pages.contains(path)) {
            body = pages.value(path);
        } else {
            head = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n";
            body = "<html><body>none</body></html>";
        }
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
        socket->write(head + body);
        socket->disconnectFromHost();
    }

    QTcpServer server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

QList<LoginInput> inputs(std::initializer_list<std::pair<const char *, const char *>> list)
{
    QList<LoginInput> result;
    for (const auto &[name, type] : list)
        result.append({QString::fromUtf8(name), QString::fromUtf8(type)});
    return result;
}

void fill(LoginPanel *panel, const QString &address, const QString &account, const QString &password)
{
    panel->Text1->setText(address);
    panel->Text2->setText(account);
    panel->Text3->setText(password);
}

QString pageText(QWebEnginePage *page, const QString &script)
{
    QString result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant &v) {
        result = v.toString();
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 20000)
        QTest::qWait(20);
    return result;
}

} // namespace

class TestLoginPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formRuleFillsKnownNamesAndSubmitsOnlyAfterTwoFields()
    {
        LoginPlan plan = LoginPanel::planLogin(inputs({{"login", "text"},
                                                       {"UserName", "text"},
                                                       {"PassWord", "password"},
                                                       {"go", "SUBMIT"},
                                                       {"user", "text"}}));
        QCOMPARE(plan.accountFields, QList<int>{1});
        QCOMPARE(plan.passwordFields, QList<int>{2});
        QCOMPARE(plan.submitIndex, 3); // the walk ends there: the later "user" stays untouched

        plan = LoginPanel::planLogin(inputs({{"", "submit"}, {"USERID", "text"}, {"Pass", "password"}}));
        QCOMPARE(plan.submitIndex, -1);
        QCOMPARE(plan.accountFields, QList<int>{1});
        QCOMPARE(plan.passwordFields, QList<int>{2});

        plan = LoginPanel::planLogin(inputs({{"useruid", "text"}, {"x", "submit"}, {"passwd", "password"}}));
        QCOMPARE(plan.submitIndex, -1); // one field filled when the button came
        plan = LoginPanel::planLogin(inputs({{"user", ""}, {"username", ""}, {"b", "Submit"}}));
        QCOMPARE(plan.submitIndex, 2); // two filled fields, whatever their kind
    }

    void missingLoginDataIsRefused()
    {
        fntest::MessageRecorder recorder;
        LoginPanel panel;
        fill(&panel, "http://127.0.0.1:1/", "alice", "  ");
        QVERIFY(!panel.PanelLogin(false));
        QVERIFY(recorder.messages.isEmpty());
        panel.Command5->click();
        QCOMPARE(recorder.texts(), QStringList{"必须先设置登录网址、登录帐号、登录密码！"});
        QCOMPARE(recorder.messages.last().icon, MessageIcon::Critical);
        QVERIFY(panel.Command5->isEnabled());

        recorder.clear();
        panel.Check2->setChecked(true);
        QVERIFY(!panel.Check2->isChecked());
        QCOMPARE(recorder.texts(), QStringList{"必须先设置登录网址、登录帐号、登录密码！"});

        panel.Check1->setChecked(true);
        QVERIFY(panel.Timer2.isActive());
        QCOMPARE(panel.Timer2.interval(), 60000);
        panel.Check1->setChecked(false);
        QVERIFY(!panel.Timer2.isActive());
    }

    void loginFillsTheFormSubmitsAndTheCookieReachesTheDownloads()
    {
        fntest::MessageRecorder recorder;
        LoginSite site;
        fFileDownload window(fntest::runObjects());
        window.show();
        LoginPanel *panel = window.PicWebBK;
        panel->setWaitLimits(15000, 300);
        fill(panel, site.url("/login"), " alice ", "s3cret&x");
        QSignalSpy finished(panel, &LoginPanel::loginFinished);
        panel->Command5->click();
        QVERIFY(!panel->Command5->isEnabled());
        QVERIFY(!panel->PanelLogin(true)); // a second login is refused while one runs
        QVERIFY(finished.wait(30000));
        QVERIFY(panel->Command5->isEnabled());
        QVERIFY(panel->Command2->isEnabled());
        QVERIFY(recorder.messages.isEmpty());

        QString welcome;
        for (const QString &r : std::as_const(site.requests)) {
            if (r.startsWith("/welcome"))
                welcome = r;
        }
        QCOMPARE(welcome, QStringLiteral("/welcome?login=&UserName=alice&PassWord=s3cret%26x&user=after"));
        QCOMPARE(window.panelText(3), QStringLiteral("Welcome"));

        const QUrl fileUrl(site.url("/papers/a.pdf"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !SchedulerAccess::of(window.queue())->network().cookieJar()->cookiesForUrl(fileUrl).isEmpty(),
            10000);
        const QNetworkCookie cookie =
            SchedulerAccess::of(window.queue())->network().cookieJar()->cookiesForUrl(fileUrl).first();
        QCOMPARE(cookie.name(), QByteArray("sid"));
        QCOMPARE(cookie.value(), QByteArray("logged-in"));
    }

    void aWaitEndsOnTheLoadItStarted_data()
    {
        QTest::addColumn<QString>("loginPath");
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("the reload timer fires while the login page loads: is the login page still filled?")
            << "/slowlogin"
            << "reload";
        QTest::newRow("a row's link opens while the login page loads: is the login page still filled?")
            << "/slowlogin"
            << "row";
        QTest::newRow("the login address redirects: does the wait end on the page it leads to?") << "/moved"
                                                                                                 << "nothing";
    }
    void aWaitEndsOnTheLoadItStarted()
    {
        QFETCH(QString, loginPath);
        QFETCH(QString, meanwhile);
        LoginSite site;
        LoginPanel panel;
        panel.setWaitLimits(8000, 200);
        panel.openAddress(site.url("/row")); // the page on show before the login
        QTRY_COMPARE_WITH_TIMEOUT(panel.WebBrowser1->url(), QUrl(site.url("/row")), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!panel.isNavigating(), 20000);

        fill(&panel, site.url(loginPath), "dora", "pw");
        QSignalSpy finished(&panel, &LoginPanel::loginFinished);
        QVERIFY(panel.PanelLogin(false));
        QTRY_VERIFY_WITH_TIMEOUT(site.requests.contains("/slowlogin"), 10000);
        if (meanwhile == u"reload")
            panel.Timer2.start(10); // its tick reloads the page on show
        else if (meanwhile == u"row")
            panel.openAddress(site.url("/row"));
        QVERIFY(finished.wait(30000));
        panel.Timer2.stop();

        QString welcome;
        for (const QString &r : std::as_const(site.requests)) {
            if (r.startsWith("/welcome"))
                welcome = r;
        }
        QCOMPARE(welcome, QStringLiteral("/welcome?login=&UserName=dora&PassWord=pw&user=after"));
        QCOMPARE(panel.WebBrowser1->url().path(), QStringLiteral("/welcome"));
    }

    void formWithTheButtonFirstIsFilledButNotSent()
    {
        LoginSite site;
        LoginPanel panel;
        panel.setWaitLimits(15000, 200);
        fill(&panel, site.url("/early"), "bob", "pw");
        QSignalSpy finished(&panel, &LoginPanel::loginFinished);
        QVERIFY(panel.PanelLogin(false));
        QVERIFY(finished.wait(30000));
        for (const QString &r : std::as_const(site.requests))
            QVERIFY2(!r.startsWith("/welcome"), qPrintable(r));
        QWebEnginePage *page = panel.WebBrowser1->page();
        QCOMPARE(pageText(page, "document.getElementsByName('userid')[0].value"), QStringLiteral("bob"));
        QCOMPARE(pageText(page, "document.getElementsByName('passwd')[0].value"), QStringLiteral("pw"));
    }

    void aPageThatNeverFinishesEndsTheWaits()
    {
        LoginSite site;
        LoginPanel panel;
        panel.setWaitLimits(1500, 500);
        fill(&panel, site.url("/never"), "carol", "pw");
        QSignalSpy goDone(&panel, &LoginPanel::goFinished);
        QSignalSpy finished(&panel, &LoginPanel::loginFinished);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(panel.PanelLogin(false));
        QVERIFY(!panel.Command2->isEnabled());
        QVERIFY(goDone.wait(10000));
        const qint64 goMs = clock.elapsed();
        QVERIFY2(goMs >= 1400 && goMs < 5000, qPrintable(QString::number(goMs)));
        QVERIFY(panel.Command2->isEnabled());
        QVERIFY(finished.wait(10000));
        QVERIFY(clock.elapsed() >= goMs + 400);
        QVERIFY(panel.Command5->isEnabled());
    }

    void panelStaysWhenAPageClosesItsWindowAndBlanksWhenHidden()
    {
        LoginSite site;
        fFileDownload window(fntest::runObjects());
        window.show();
        LoginPanel *panel = window.PicWebBK;
        panel->setWaitLimits(15000, 100);
        window.webLogin();
        QVERIFY(panel->isVisible());

        panel->Text1->setText(site.url("/closer"));
        QSignalSpy goDone(panel, &LoginPanel::goFinished);
        panel->Command2->click();
        QVERIFY(goDone.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(window.panelText(3), QStringLiteral("closer"), 10000);
        QTest::qWait(300); // the page's script has asked to close the window by now
        QVERIFY(panel->WebBrowser1->page());
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->WebBrowser1->url(), QUrl(site.url("/closer")));

        panel->Command3->click();
        QVERIFY(panel->isHidden());
        QVERIFY(panel->Text1->text().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(panel->WebBrowser1->url(), QUrl("about:blank"), 10000);
        QCOMPARE(window.panelText(3), QStringLiteral("closer")); // a blank page's title is not shown
    }

    void aWebPageInsteadOfAFileLogsInAndTriesTheRowOnceMore()
    {
        fntest::MessageRecorder recorder;
        LoginSite site;
        fFileDownload window(fntest::runObjects());
        window.show();
        LoginPanel *panel = window.PicWebBK;
        panel->setWaitLimits(15000, 100);
        fill(panel, site.url("/login"), "alice", "pw");
        panel->Check2->setChecked(true);
        QVERIFY(panel->Check2->isChecked());

        DownloadListModel *model = window.model();
        DownloadRow row;
        row.key = QStringLiteral("http://127.0.0.1:1/paper.pdf");
        row.name = QStringLiteral("paper");
        row.type = QStringLiteral("html");
        row.size = row.downloaded = 300;
        row.percentNote = PercentNote::Full;
        row.state = RowState::Done;
        const RowId id = TestRows::of(*model).addRow(row);
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        scheduler->housekeeping()->setOn(false);

        QSignalSpy finished(panel, &LoginPanel::loginFinished);
        scheduler->start();
        Q_EMIT scheduler->reports()->webPageReceived(id);
        QVERIFY(panel->isLoggingIn());
        Q_EMIT scheduler->reports()->webPageReceived(
            id); // the same row again during the login: no second try
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(model->row(0).state, RowState::Waiting);
        QVERIFY(model->cellText(0, DownloadListModel::ColSize).isEmpty() &&
                model->cellText(0, DownloadListModel::ColDownloaded).isEmpty() &&
                model->cellText(0, DownloadListModel::ColPercent).isEmpty());

        // Once per row in a run: the row comes back as a page again in the same run, no second login.
        TestRows::of(*model).setState(id, RowState::Done);
        Q_EMIT scheduler->reports()->webPageReceived(id);
        QVERIFY(!panel->isLoggingIn());
        scheduler->StopDownloads();

        // A new run the user starts gives it one more try; without the box ticked nothing happens.
        window.Command4->click();
        panel->Check2->setChecked(false);
        Q_EMIT scheduler->reports()->webPageReceived(id);
        QVERIFY(!panel->isLoggingIn());
        panel->Check2->setChecked(true);
        Q_EMIT scheduler->reports()->webPageReceived(id);
        QVERIFY(panel->isLoggingIn());
        QVERIFY(finished.wait(30000));
        QCOMPARE(model->row(0).state, RowState::Waiting);
        scheduler->StopDownloads();
        QVERIFY(recorder.messages.isEmpty());
    }

    void cookiesTheProfileAlreadyHoldsAreMirroredToo()
    {
        // The store works once the profile's browser has started.
        QWebEnginePage page(programProfile());
        QSignalSpy loaded(&page, &QWebEnginePage::loadFinished);
        page.load(QUrl("about:blank"));
        QVERIFY(loaded.wait(20000));
        QWebEngineCookieStore *store = programProfile()->cookieStore();
        CookieMirror::recordCookies(store);
        QNetworkCookie cookie("early", "bird");
        cookie.setDomain("127.0.0.1");
        cookie.setPath("/");
        QSignalSpy added(store, &QWebEngineCookieStore::cookieAdded);
        store->setCookie(cookie, QUrl("http://127.0.0.1/"));
        QVERIFY(added.wait(10000));

        // A mirror made after the browser announced the cookie still learns it, and forgets it when the
        // browser does.
        QNetworkCookieJar jar;
        CookieMirror mirror(store, &jar);
        auto holdsEarly = [&jar] {
            for (const QNetworkCookie &c : jar.cookiesForUrl(QUrl("http://127.0.0.1/x"))) {
                if (c.name() == "early")
                    return true;
            }
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(holdsEarly(), 10000);
        store->deleteCookie(cookie, QUrl("http://127.0.0.1/"));
        QTRY_VERIFY_WITH_TIMEOUT(!holdsEarly(), 10000);
    }
};

FN_TEST_MAIN_GUI(TestLoginPanel)
#include "tst_loginpanel.moc"

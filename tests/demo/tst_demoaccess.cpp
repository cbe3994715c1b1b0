// Who may fetch from the demo site: the login, the limit of papers a minute and the verification page.

#include "commonseams.h"
#include "core/common/clock.h"
#include "democlient.h"
#include "testenv.h"

#include <QNetworkCookieJar>
#include <QRegularExpression>

using namespace democlient;

namespace {

// Installs a clock for the life of the guard.
struct ClockGuard
{
    ManualClock clock;
    Clock *previous = ClockSeam::install(&clock);
    ~ClockGuard() { ClockSeam::install(previous); }
};

} // namespace

class TestDemoAccess : public DemoSiteFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_site.listen());
        QVERIFY(m_site.port() != 0);
    }
    void init() { reset(); }

    void loginUnlocksPapersWhenRequired()
    {
        const Fetched form = get(m_nam, m_site.loginUrl());
        static const QRegularExpression input(u"<input type=\"([^\"]*)\"(?: name=\"([^\"]*)\")?"_qs);
        QStringList inputs;
        for (auto it = input.globalMatch(QString::fromUtf8(form.body)); it.hasNext();) {
            const auto m = it.next();
            inputs.append(m.captured(1) + u':' + m.captured(2));
        }
        QCOMPARE(inputs, (QStringList{u"text:username"_qs, u"password:password"_qs, u"submit:"_qs}));

        m_site.login().setRequireLogin(true);
        m_site.login().setAccount(u"张 三"_qs);
        m_site.login().setPassword(u"p&ss=1"_qs);
        QNetworkAccessManager nam;
        const int n = m_site.catalog().papersOfKind(DemoPaperKind::Pdf).first();

        const Fetched locked = get(nam, m_site.paperFileUrl(n));
        QCOMPARE(locked.status, 200);
        QCOMPARE(locked.mediaType, u"text/html"_qs);
        QVERIFY(locked.body != m_site.paperBytes(n));
        QVERIFY(QString::fromUtf8(locked.body).contains(u"请先登录"_qs));

        const Fetched wrong =
            post(nam, m_site.loginUrl(), "username=%E5%BC%A0+%E4%B8%89&password=p%26ss%3D2");
        QVERIFY(wrong.header("Set-Cookie").isEmpty());
        QVERIFY(!QString::fromUtf8(wrong.body).contains(u"已登录"_qs));
        QCOMPARE(get(nam, m_site.paperFileUrl(n)).mediaType, u"text/html"_qs);

        const Fetched right =
            post(nam, m_site.loginUrl(), "username=%E5%BC%A0+%E4%B8%89&password=p%26ss%3D1");
        QVERIFY(right.header("Set-Cookie").startsWith(DemoLogin::sessionCookieName().toLatin1() + '='));
        QVERIFY(QString::fromUtf8(right.body).contains(u"已登录"_qs));
        const Fetched unlocked = get(nam, m_site.paperFileUrl(n));
        QCOMPARE(unlocked.mediaType, u"application/pdf"_qs);
        QCOMPARE(unlocked.body, m_site.paperBytes(n));

        // Another client without the cookie is still refused; a made-up cookie does not help.
        QNetworkAccessManager other;
        QNetworkRequest forged(m_site.paperFileUrl(n));
        forged.setRawHeader("Cookie", DemoLogin::sessionCookieName().toLatin1() + "=0123456789abcdef");
        QNetworkReply *reply = other.get(forged);
        QVERIFY(waitFor(reply));
        QCOMPARE(collect(reply).mediaType, u"text/html"_qs);

        // A login by GET form works too; lapsed sessions lock the files again.
        QUrl byGet = m_site.loginUrl();
        byGet.setQuery(u"username=%E5%BC%A0%20%E4%B8%89&password=p%26ss%3D1"_qs);
        QVERIFY(!get(other, byGet).header("Set-Cookie").isEmpty());
        QCOMPARE(get(other, m_site.paperFileUrl(n)).body, m_site.paperBytes(n));
        m_site.login().clearSessions();
        QCOMPARE(get(other, m_site.paperFileUrl(n)).mediaType, u"text/html"_qs);
    }

    void paperLimitIsASlidingMinute()
    {
        ClockGuard time;
        m_site.faults().setPaperLimit(2);
        const auto fetch = [&](int n) { return get(m_nam, m_site.paperFileUrl(n)); };
        const auto refusedFor = [&](int n) {
            const Fetched f = fetch(n);
            return f.status == 429 && f.body != m_site.paperBytes(n) ? f.header("Retry-After")
                                                                     : QByteArray("served");
        };
        QCOMPARE(fetch(1).status, 200); // at 0 s
        time.clock.advanceMs(30000);
        QCOMPARE(fetch(2).status, 200); // at 30 s
        time.clock.advanceMs(10000);
        QCOMPARE(refusedFor(4), QByteArray("20")); // until the paper of 0 s leaves the minute
        // Other pages are not limited, and refused requests take up no room.
        QCOMPARE(get(m_nam, m_site.paperLink(4)).status, 200);
        QCOMPARE(refusedFor(4), QByteArray("20"));
        time.clock.advanceMs(19500);
        QCOMPARE(refusedFor(4), QByteArray("1")); // half a second is announced as one, never zero
        time.clock.advanceMs(500);
        QCOMPARE(fetch(4).body, m_site.paperBytes(4)); // at 60 s
        QCOMPARE(refusedFor(6), QByteArray("30"));     // the window slides: 30 s holds its place until 90 s
        time.clock.advanceMs(30000);
        QCOMPARE(refusedFor(6), QByteArray("served"));
        m_site.faults().setPaperLimit(0);
        QCOMPARE(refusedFor(8), QByteArray("served"));
    }

    void verificationPageUntilTheFormIsSubmitted()
    {
        m_site.faults().setVerifyAfter(2);
        QNetworkAccessManager a;
        QNetworkAccessManager b;
        QCOMPARE(get(a, m_site.paperFileUrl(1)).body, m_site.paperBytes(1));
        QCOMPARE(get(b, m_site.paperFileUrl(2)).body, m_site.paperBytes(2));
        const auto pageFor = [&](QNetworkAccessManager &client, int n) {
            const Fetched f = get(client, m_site.paperFileUrl(n));
            return f.status == 200 && f.mediaType == u"text/html"_qs &&
                   QString::fromUtf8(f.body).contains(u"<h1>请完成验证</h1>"_qs);
        };
        QVERIFY(pageFor(a, 4) && pageFor(b, 4));
        const QString html = QString::fromUtf8(get(a, m_site.paperFileUrl(4)).body);
        QVERIFY(html.contains(u"action=\"/verify\""_qs) && html.contains(u"type=\"submit\""_qs));
        QVERIFY(html.contains(u"name=\"back\" value=\"/paper/4.pdf\""_qs));
        QCOMPARE(m_site.faults().papersServed(), 2);

        // Looking at the form is not submitting it.
        QVERIFY(get(a, m_site.verifyUrl()).header("Set-Cookie").isEmpty());
        QVERIFY(pageFor(a, 4));

        // Submitting it gives this client its papers back; the other one, or a made-up cookie, still
        // meets the page.
        const Fetched done = post(a, m_site.verifyUrl(), "back=%2Fpaper%2F4.pdf&confirm=1");
        QVERIFY(done.header("Set-Cookie").startsWith(DemoFaults::verificationCookieName().toLatin1() + '='));
        QVERIFY(QString::fromUtf8(done.body).contains(u"验证成功"_qs) &&
                done.body.contains("href=\"/paper/4.pdf\""));
        QCOMPARE(get(a, m_site.paperFileUrl(4)).body, m_site.paperBytes(4));
        QVERIFY(pageFor(b, 4));
        QNetworkAccessManager c;
        QNetworkRequest forged(m_site.paperFileUrl(4));
        forged.setRawHeader("Cookie", DemoFaults::verificationCookieName().toLatin1() + "=0123456789abcdef");
        QNetworkReply *reply = c.get(forged);
        QVERIFY(waitFor(reply));
        QCOMPARE(collect(reply).mediaType, u"text/html"_qs);

        // A GET submission does as well; the page leads back only within the site.
        QUrl byGet = m_site.verifyUrl();
        byGet.setQuery(u"back=http%3A%2F%2Fevil.example%2F&confirm=1"_qs);
        const Fetched viaGet = get(b, byGet);
        QVERIFY(!viaGet.body.contains("evil") && viaGet.body.contains("<a href=\"/\">"));
        QCOMPARE(get(b, m_site.paperFileUrl(4)).body, m_site.paperBytes(4));

        // Starting over forgets who verified; 0 asks from the first paper on.
        m_site.faults().resetVerification();
        m_site.faults().setVerifyAfter(0);
        QVERIFY(pageFor(a, 1));
    }
};

FN_TEST_MAIN_CORE(TestDemoAccess)
#include "tst_demoaccess.moc"

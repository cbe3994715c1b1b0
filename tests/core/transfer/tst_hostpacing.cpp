#include "core/sites/sitepoliteness.h"
#include "core/sites/siterules.h"
#include "faultserver.h"
#include "queuefixture.h"
#include "testenv.h"

#include <QTemporaryDir>
#include <algorithm>
#include <memory>

namespace {

const char *const kRules = R"({"format": 2, "name": "Site", "hosts": [%1], "papers": {"item": "li"},
                               "politeness": {%2}})";

} // namespace

// The politeness site rules ask for, as the server sees it: when each request comes and when its answer
// begins. Rows of one host wait for its interval and for a free connection; other hosts do not.
class TestHostPacing : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    QTemporaryDir m_rules;
    std::unique_ptr<QueueFixture> m_queue;

    SitePoliteness politeness(const QString &hosts, const QString &limits)
    {
        fntest::writeFile(m_rules.filePath("site.json"),
                          QString::fromLatin1(kRules).arg(hosts, limits).toUtf8());
        SiteRulesCatalog catalog;
        catalog.loadUserFolder(m_rules.path());
        return SitePoliteness(catalog);
    }

    // Four papers answered after `delayMs`, fetched three at a time under the given politeness; the
    // requests in the order they came.
    QList<FaultServer::Request> fetch(const SitePoliteness &sites, int delayMs)
    {
        FaultServer::Reply slow = FaultServer::pdf(4000);
        slow.answerDelayMs = delayMs;
        for (int n = 1; n <= 4; ++n) {
            m_server.setReply(QStringLiteral("/p/%1.pdf").arg(n), slow);
            m_queue->addRow(QStringLiteral("/p/%1.pdf").arg(n), QStringLiteral("p%1").arg(n));
        }
        m_queue->use(2, 3);
        m_queue->scheduler()->options().sites = sites;
        m_queue->runToEnd(60000);
        QList<FaultServer::Request> requests = m_server.requests();
        std::sort(requests.begin(), requests.end(),
                  [](const auto &a, const auto &b) { return a.receivedMs < b.receivedMs; });
        return requests;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        QVERIFY(m_rules.isValid());
    }
    void init() { m_queue = std::make_unique<QueueFixture>(m_server); }
    void cleanup() { m_queue.reset(); }

    void aSiteOfOneConnectionIsAskedOnceAtATime()
    {
        const QList<FaultServer::Request> requests =
            fetch(politeness(QStringLiteral("\"127.0.0.1\""), QStringLiteral("\"connections\": 1")), 300);
        QCOMPARE(requests.size(), 4);
        for (int i = 1; i < requests.size(); ++i)
            QVERIFY2(requests.at(i).receivedMs >= requests.at(i - 1).answeredMs,
                     requests.at(i).path.constData());
        QCOMPARE(m_queue->model()->totalsText().contains(QStringLiteral("已完成：4")), true);
    }

    void theIntervalStandsBetweenTwoRequestsToTheSite()
    {
        const QList<FaultServer::Request> requests =
            fetch(politeness(QStringLiteral("\"127.0.0.1\""), QStringLiteral("\"interval\": 0.6")), 0);
        QCOMPARE(requests.size(), 4);
        for (int i = 1; i < requests.size(); ++i)
            QVERIFY2(requests.at(i).receivedMs - requests.at(i - 1).receivedMs >= 500,
                     qPrintable(QString::number(requests.at(i).receivedMs - requests.at(i - 1).receivedMs)));
    }

    void anotherSitesPolitenessHoldsNothingBack()
    {
        // Three transfers at once, as the thread count says: the three first requests all come before
        // the first answer.
        const QList<FaultServer::Request> requests =
            fetch(politeness(QStringLiteral("\"*.example.org\""),
                             QStringLiteral("\"interval\": 30, \"connections\": 1")),
                  3000);
        QCOMPARE(requests.size(), 4);
        for (int i = 1; i < 3; ++i)
            QVERIFY(requests.at(i).receivedMs < requests.at(0).answeredMs);
    }
};

FN_TEST_MAIN_CORE(TestHostPacing)
#include "tst_hostpacing.moc"

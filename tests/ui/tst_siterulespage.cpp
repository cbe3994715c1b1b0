#include "browser/browserprofile.h"
#include "core/search/addallwalk.h"
#include "core/search/candidatelistmodel.h"
#include "core/settings/sharedoptions.h"
#include "core/sites/siterules.h"
#include "demo/demosite.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrun.h"
#include "ui/fwebsearch.h"
#include "ui/searchwindowhost.h"

#include <QDir>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <memory>

namespace {

class Host : public SearchWindowHost
{
public:
    DownloadQueue *loadDownloadWindow() override { return nullptr; }
    void showDownloadWindow() override {}
    bool isDownloadWindowLoaded() const override { return false; }
    void showStartupWindow() override {}
    bool runSaveLocationChooser(QWidget *) override { return true; }
    void showOptions(QWidget *) override {}
    void showAbout(QWidget *) override {}
    void showCacheViewer(QWidget *) override {}
    void clearBrowserCache() override {}
};

const char *const kRefusedRules =
    R"({"format": 1, "name": "Mine", "hosts": ["127.0.0.1"], "pathPrefix": "/search",
    "papers": {"item": "tr[[", "link": "a"}})";

const char *const kMendedRules =
    R"({"format": 1, "name": "Mended", "hosts": ["127.0.0.1"], "pathPrefix": "/search",
    "papers": {"listClass": "tablelist paperlist"}, "fileAddress": {"suffix": ".pdf"}})";

QAction *findAction(QWidget *window, const QString &text)
{
    for (QAction *a : window->findChildren<QAction *>())
        if (a->text() == text)
            return a;
    return nullptr;
}

} // namespace

// The search window on the demo site's cards layout: the rules picked for the page's address take the
// papers with their metadata over every page, and the two rules commands tell what applies and finds.
class TestSiteRulesPage : public QObject
{
    Q_OBJECT

    DemoSite m_site;
    Host m_host;

private Q_SLOTS:
    void initTestCase()
    {
        m_site.setPaperCount(7);
        m_site.setPageSize(3);
        m_site.setCardsLayout(true);
        QVERIFY(m_site.listen());
        // The user's rules for the demo site's table pages win over the built-in ones, but hold a
        // selector the browser refuses; a file that is no JSON at all is left out.
        const QString folder = SiteRulesCatalog::userFolder();
        QVERIFY(QDir().mkpath(folder));
        fntest::writeFile(folder + "/mine.json", kRefusedRules);
        fntest::writeFile(folder + "/zz-bad.json", "{\"format\": 1,");
    }

    void aRefusedSelectorIsToldAndNoPaperTaken()
    {
        TestOptions::edit() = SharedOptions{};
        TestOptions::edit().PromptSavePathOnExtract = false;
        fntest::MessageRecorder messages;
        const QUrl tables = m_site.searchUrl(QString());
        QPointer<fWebSearch> window = new fWebSearch(&m_host, tables, fntest::runObjects());
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(window->page()->url() == tables && !window->page()->isLoading(), 20000);
        window->addThisPage();
        QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 1, 20000);
        QCOMPARE(messages.messages.first().icon, MessageIcon::Critical);
        QVERIFY(messages.messages.first().text.contains(SiteRulesCatalog::userFolder() + "/mine.json"));
        QVERIFY(messages.messages.first().text.contains("papers.item"));
        QCOMPARE(window->candidates()->count(), 0);

        findAction(window, QStringLiteral("站点规则…"))->trigger();
        const QString source = messages.messages.last().text;
        QVERIFY2(source.contains(QStringLiteral("站点规则：Mine")), qPrintable(source));
        QVERIFY(source.contains(QStringLiteral("用户规则文件夹")));
        QVERIFY(source.contains(QStringLiteral("zz-bad.json")));

        // Mended, the file counts at the next check without a restart.
        fntest::writeFile(SiteRulesCatalog::userFolder() + "/mine.json", kMendedRules);
        findAction(window, QStringLiteral("检查本页"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 3, 20000);
        const QString check = messages.messages.last().text;
        QVERIFY2(check.contains(QStringLiteral("站点规则：Mended")), qPrintable(check));
        QVERIFY(check.contains(QStringLiteral("找到论文：3 篇")));
        QVERIFY(check.contains(m_site.paperFileUrl(1).toString()));
        delete window;
    }

    void cardsAreTakenByTheirRulesAndChecked()
    {
        TestOptions::edit() = SharedOptions{};
        TestOptions::edit().PromptSavePathOnExtract = false;
        fntest::MessageRecorder messages;
        QPointer<fWebSearch> window = new fWebSearch(&m_host, m_site.homeUrl(), fntest::runObjects());
        window->addAllWalk()->setWaitLimits(30000, 100);
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(window->page()->url() == m_site.homeUrl() && !window->page()->isLoading(),
                                 20000);

        QSignalSpy finished(window->addAllWalk(), &AddAllWalk::finished);
        window->toggleAddAll();
        QVERIFY(finished.wait(60000));
        QCOMPARE(window->addAllWalk()->endReason(), AddAllWalk::End::LastPage);
        QCOMPARE(window->addAllWalk()->pagesTaken(), 3);
        CandidateListModel &list = *window->candidates();
        QCOMPARE(list.count(), 7);
        for (int n = 1; n <= 7; ++n) {
            const DemoPaper paper = m_site.paper(n);
            const CandidateRow &row = list.row(n - 1);
            QCOMPARE(row.title, paper.title);
            QCOMPARE(row.key, m_site.paperFileUrl(n).toString());
            QCOMPARE(row.metadata().authorList(), paper.authors);
            QCOMPARE(row.metadata().year(), QString::number(paper.year));
            QCOMPARE(row.metadata().source(), paper.source);
        }

        // On the last page: one paper, no next page.
        findAction(window, QStringLiteral("检查本页"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 1, 20000);
        const QString check = messages.messages.first().text;
        QVERIFY2(check.contains(QStringLiteral("找到论文：1 篇")), qPrintable(check));
        QVERIFY(check.contains(m_site.paper(7).title));
        QVERIFY(check.contains(QStringLiteral("下一页：未找到")));
        QVERIFY(check.contains(QStringLiteral("未匹配任何元素：nextPage (a[rel~=\"next\" i])")));

        findAction(window, QStringLiteral("站点规则…"))->trigger();
        QCOMPARE(messages.messages.size(), 2);
        const QString source = messages.messages.last().text;
        QVERIFY2(source.contains(QStringLiteral("站点规则：墨枢演示文献库（卡片）")), qPrintable(source));
        QVERIFY(source.contains(QStringLiteral("内置")));
        QVERIFY2(source.contains(QStringLiteral("（demo-cards.json）")), qPrintable(source));
        QVERIFY(!source.contains(QStringLiteral(":/")));
        QVERIFY(source.contains(QStringLiteral("路径 /cards/")));
        delete window;
    }
};

FN_TEST_MAIN_GUI(TestSiteRulesPage)
#include "tst_siterulespage.moc"

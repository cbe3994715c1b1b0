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
#include <QPushButton>
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
    int chooserRuns = 0;
    bool runSaveLocationChooser(QWidget *) override
    {
        ++chooserRuns;
        return true;
    }
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

    // With the folder asked for at each take, rules that take nothing ask no folder: the window says
    // why at once, for one page and for the walk over all.
    void rulesThatTakeNothingAskNoFolder()
    {
        TestOptions::edit() = SharedOptions{};
        TestOptions::edit().PromptSavePathOnExtract = true;
        m_host.chooserRuns = 0;
        fntest::writeFile(SiteRulesCatalog::userFolder() + "/mine.json", kRefusedRules);
        fntest::runObjects().siteRules.loadUserFolder(SiteRulesCatalog::userFolder());
        fntest::MessageRecorder messages;
        const QUrl tables = m_site.searchUrl(QString());
        QPointer<fWebSearch> window = new fWebSearch(&m_host, tables, fntest::runObjects());
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(window->page()->url() == tables && !window->page()->isLoading(), 20000);
        auto *addAll = window->findChild<QPushButton *>(QStringLiteral("AddAllButton"));
        for (const bool walk : {false, true}) {
            messages.clear();
            walk ? addAll->click() : window->addThisPage();
            QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 1, 20000);
            QCOMPARE(messages.messages.first().icon, MessageIcon::Critical);
            QVERIFY2(messages.messages.first().text.contains("papers.item"),
                     qPrintable(messages.messages.first().text));
            QCOMPARE(addAll->text(), QStringLiteral("加入全部到列表"));
            QVERIFY(!window->addAllWalk()->isRunning());
        }

        // A page no rules find a paper on names the rules file that could not be read.
        const QUrl none = m_site.homeUrl().resolved(QUrl(QStringLiteral("/no-such-page")));
        window->page()->load(none);
        QTRY_VERIFY_WITH_TIMEOUT(window->page()->url() == none && !window->page()->isLoading(), 20000);
        messages.clear();
        window->addThisPage();
        QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 1, 20000);
        const QString said = messages.messages.first().text;
        QVERIFY2(said.contains(QStringLiteral("没有找到论文")) && said.contains("zz-bad.json"),
                 qPrintable(said));
        QCOMPARE(m_host.chooserRuns, 0);
        QCOMPARE(window->candidates()->count(), 0);

        // A page with papers asks the folder, then takes them.
        const QUrl cards = m_site.homeUrl();
        window->page()->load(cards);
        QTRY_VERIFY_WITH_TIMEOUT(window->page()->url() == cards && !window->page()->isLoading(), 20000);
        window->addThisPage();
        QTRY_COMPARE_WITH_TIMEOUT(window->candidates()->count(), 3, 20000);
        QCOMPARE(m_host.chooserRuns, 1);
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

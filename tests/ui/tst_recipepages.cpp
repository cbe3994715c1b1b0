#include "browser/browserprofile.h"
#include "browser/webengineresultpage.h"
#include "core/queue/downloadqueue.h"
#include "core/search/candidatelistmodel.h"
#include "core/search/pagecheck.h"
#include "core/search/resultpage.h"
#include "core/settings/sharedoptions.h"
#include "core/sites/siterules.h"
#include "demo/demosite.h"
#include "faultserver.h"
#include "recipepage.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrun.h"
#include "ui/fwebsearch.h"
#include "ui/searchwindowhost.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <memory>

namespace {

// Owns a real download list for the papers the window hands over.
class Host : public SearchWindowHost
{
public:
    std::unique_ptr<DownloadQueue> downloads;

    DownloadQueue *loadDownloadWindow() override
    {
        if (!downloads)
            downloads = std::make_unique<DownloadQueue>();
        return downloads.get();
    }
    void showDownloadWindow() override {}
    bool isDownloadWindowLoaded() const override { return downloads != nullptr; }
    void showStartupWindow() override {}
    bool runSaveLocationChooser(QWidget *) override { return true; }
    void showOptions(QWidget *) override {}
    void showAbout(QWidget *) override {}
    void showCacheViewer(QWidget *) override {}
    void clearBrowserCache() override {}
};

// The user's rules ask the demo site for one request a second at most; they are for no page.
const char *const kPoliteRules =
    R"({"format": 2, "name": "Polite", "hosts": ["127.0.0.1"], "pathPrefix": "/nowhere/",
        "papers": {"item": "li"}, "politeness": {"interval": 1, "connections": 1}})";

// The rules of the small page with a selector the browser refuses.
QByteArray refusedRules()
{
    return QByteArray(recipepage::kRules).replace(R"("exclude": ".badge")", R"("exclude": "dd[[")");
}

QAction *findAction(QWidget *window, const QString &text)
{
    for (QAction *a : window->findChildren<QAction *>())
        if (a->text() == text)
            return a;
    return nullptr;
}

} // namespace

// Result pages read by rules of format 2 in the real browser: every power of the rules on a small
// page, the demo site's definition-list layout walked in the search window, its check, and the
// politeness of the rules kept by the queue the window hands the papers to.
class TestRecipePages : public QObject
{
    Q_OBJECT

    QWebEngineProfile m_profile; // off the record
    QWebEnginePage *m_page = nullptr;
    FaultServer m_server;
    DemoSite m_site;
    QTemporaryDir m_dir;
    Host m_host;

    PageSnapshot read(const QByteArray &rules)
    {
        fntest::writeFile(m_dir.filePath("rules.json"), rules);
        SiteRulesCatalog catalog;
        if (!catalog.addGivenFile(m_dir.filePath("rules.json")))
            qWarning("%s", qPrintable(catalog.refused().constLast().message()));
        QSignalSpy loaded(m_page, &QWebEnginePage::loadFinished);
        m_page->load(m_server.url("/list"));
        if (!loaded.wait(20000))
            return {};
        WebEngineResultPage reader(m_page, catalog);
        PageSnapshot snapshot;
        bool done = false;
        reader.readPage(this, [&](const PageSnapshot &p) {
            snapshot = p;
            done = true;
        });
        QTest::qWaitFor([&] { return done; }, 20000);
        return snapshot;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_page = new QWebEnginePage(&m_profile, this);
        QVERIFY(m_server.listen());
        FaultServer::Reply page;
        page.contentType = "text/html; charset=utf-8";
        page.body = recipepage::kHtml;
        m_server.setReply("/list", page);
        m_site.setPaperCount(7);
        m_site.setPageSize(3);
        m_site.setDefsLayout(true);
        QVERIFY(m_site.listen());
        QVERIFY(QDir().mkpath(SiteRulesCatalog::userFolder()));
        fntest::writeFile(SiteRulesCatalog::userFolder() + "/polite.json", kPoliteRules);
    }

    void cleanupTestCase() { delete m_page; } // the page goes before its profile

    void everyPowerOfTheRulesOnASmallPage()
    {
        const PageSnapshot page = read(recipepage::kRules);
        QVERIFY(page.valid);
        QVERIFY2(page.rejected.isEmpty(), qPrintable(page.rejected.join(u' ')));
        CandidateListModel list;
        ExtractResultPage(page, list, QStringLiteral("/papers/"));
        // The advertisement is no paper and the item without a link is none either.
        QCOMPARE(list.count(), 3);
        const PaperMetadata first = list.row(0).metadata();
        QCOMPARE(first.title, QStringLiteral("First paper title"));
        QCOMPARE(list.row(0).key, m_server.url("/files/1.pdf?token=a1b2").toString());
        QCOMPARE(first.authorList(), (QStringList{"Ann Smith", "Bo Li", "Chen, Wei"}));
        QCOMPARE(first.authors(), QStringLiteral("Ann Smith / Bo Li / Chen, Wei"));
        QCOMPARE(first.year(), QStringLiteral("2023"));
        QCOMPARE(first.cell("分组"), QStringLiteral("2023"));
        QCOMPARE(first.source(), QStringLiteral("Journal of Tests"));
        QCOMPARE(first.doi(), QString());

        const PaperMetadata second = list.row(1).metadata();
        QCOMPARE(second.title, QStringLiteral("Second paper"));
        QCOMPARE(list.row(1).key, m_server.url("/pdf/2").toString()); // from its link: no PDF link
        QCOMPARE(second.authorList(), QStringList{"Dan Brown"});
        QCOMPARE(second.year(), QStringLiteral("2022"));
        QCOMPARE(second.doi(), QStringLiteral("10.1000/2"));
        QCOMPARE(second.cell("分组"), QStringLiteral("2023"));

        // No way fits the fourth: its own page is read for the full text.
        QCOMPARE(list.row(2).title, QStringLiteral("Fourth paper"));
        QCOMPARE(list.row(2).key, QStringLiteral("https://elsewhere.example/record/4"));
        QCOMPARE(list.row(2).metadata().cell("分组"), QStringLiteral("2021"));
        QCOMPARE(list.row(2).metadata().year(), QString());

        const PageCheck check = CheckResultPage(page);
        QCOMPARE(check.itemCount, 4);
        QCOMPARE(check.paperCount, 3);
        QCOMPARE(check.byLinkCount, 1);
        QCOMPARE(check.linklessCount, 1);
        QList<int> hits;
        for (const PageCheck::RecipeCount &recipe : check.recipes)
            hits.append(recipe.items);
        // link, title, PDF link, authors, year, DOI, group, source
        QCOMPARE(hits, (QList<int>{3, 4, 1, 4, 2, 1, 4, 4}));
        QCOMPARE(check.unmatched, QStringList());
        const QString text = pageCheckText(check);
        QVERIFY2(text.contains(QStringLiteral("没有链接的条目：1 个")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("其中没有全文地址、下载时从论文网页找全文：1 篇")));
        QVERIFY(text.contains(QStringLiteral("   论文链接：") + m_server.url("/abs/1").toString()));
        QVERIFY(!text.contains(QStringLiteral("Sponsored")) && !text.contains(QStringLiteral("[PDF]")));
    }

    void aSelectorTheBrowserRefusesTakesNoPaper()
    {
        const PageSnapshot page = read(refusedRules());
        QCOMPARE(page.rejected, QStringList{"papers.title.exclude"});
        CandidateListModel list;
        QCOMPARE(ExtractResultPage(page, list, QString()), 0);
        QVERIFY(pageCheckText(CheckResultPage(page))
                    .contains(QStringLiteral("浏览器不接受此选择器：papers.title.exclude (dd[[)")));
    }

    void theDefinitionListIsWalkedCheckedAndFetchedPolitely()
    {
        TestOptions::edit() = SharedOptions{};
        TestOptions::edit().PromptSavePathOnExtract = false;
        TestOptions::edit().DefaultSaveFolder = m_dir.path() + u'/';
        fntest::MessageRecorder messages;
        QPointer<fWebSearch> window = new fWebSearch(&m_host, m_site.homeUrl(), fntest::runObjects());
        window->addAllWalk()->setWaitLimits(30000, 100);
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(window->page()->url() == m_site.homeUrl() && !window->page()->isLoading(),
                                 20000);
        QSignalSpy walked(window->addAllWalk(), &AddAllWalk::finished);
        window->toggleAddAll();
        QVERIFY(walked.wait(60000));
        QCOMPARE(window->addAllWalk()->pagesTaken(), 3);
        CandidateListModel &list = *window->candidates();
        QCOMPARE(list.count(), 7);
        for (int n = 1; n <= 7; ++n) {
            const DemoPaper paper = m_site.paper(n);
            const PaperMetadata m = list.row(n - 1).metadata();
            QCOMPARE(m.title, paper.title); // without the badge some carry
            QCOMPARE(list.row(n - 1).key, m_site.paperFileUrl(n).toString());
            QCOMPARE(m.authorList(), paper.authors);
            QCOMPARE(m.authors(), paper.authors.join(QStringLiteral("; ")));
            QCOMPARE(m.year(), QString::number(paper.year));
            QCOMPARE(m.source(), paper.source);
        }

        findAction(window, QStringLiteral("检查本页"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(messages.messages.size(), 1, 20000);
        const QString check = messages.messages.first().text;
        for (const QString &expected :
             {QStringLiteral("1. ") + m_site.paper(7).title,
              QStringLiteral("作者：") + m_site.paper(7).authors.join(QStringLiteral("; ")),
              QStringLiteral("年份：%1").arg(m_site.paper(7).year),
              QStringLiteral("fileAddress[0] (a.pdf)：1")})
            QVERIFY2(check.contains(expected), qPrintable(expected + u'\n' + check));

        // Handed over, the papers are fetched no faster than the user's rules let the site be asked.
        QSignalSpy analysed(window->analysis(), &CandidateAnalysis::finished);
        window->startAnalysis(AnalysisCommand::All);
        QVERIFY(analysed.wait(30000));
        DownloadQueue *queue = m_host.downloads.get();
        QVERIFY(queue);
        QCOMPARE(queue->model()->count(), 7);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> asked;
        const QMetaObject::Connection watch =
            connect(&m_site, &DemoSite::requestServed, this, [&](const QString &path, int) {
                if (path.endsWith(QLatin1String(".pdf")))
                    asked.append(clock.elapsed());
            });
        queue->changeOptions([](SchedulerOptions &options) {
            options.method = DownloadMethod::Parallel;
            options.threadCount = 3;
            options.retries = 0;
        });
        QSignalSpy finished(queue, &DownloadQueue::queueFinished);
        queue->start();
        QVERIFY(finished.wait(90000));
        disconnect(watch);
        QCOMPARE(asked.size(), 7);
        for (int i = 1; i < asked.size(); ++i)
            QVERIFY2(asked.at(i) - asked.at(i - 1) >= 850,
                     qPrintable(QString::number(asked.at(i) - asked.at(i - 1))));
        delete window;
    }
};

FN_TEST_MAIN_GUI(TestRecipePages)
#include "tst_recipepages.moc"

#include "core/common/gbk.h"
#include "core/library/paperlibrary.h"
#include "core/rows/downloadlistmodel.h"
#include "core/search/addallwalk.h"
#include "core/search/candidateanalysis.h"
#include "core/search/candidateexport.h"
#include "core/search/candidatelistmodel.h"
#include "core/search/candidateremoval.h"
#include "core/search/handover.h"
#include "core/search/resultpage.h"
#include "core/search/searchlayout.h"
#include "core/search/seenrecorder.h"
#include "testenv.h"
#include "testrows.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

namespace {
PageDiv div(const QString &cls, int tables, QList<PageLink> links = {})
{
    return PageDiv{cls, tables, std::move(links)};
}

PageSnapshot page(QList<PageDiv> divs)
{
    PageSnapshot p;
    p.valid = true;
    p.documentAddress = QStringLiteral("http://site/search?page=1");
    p.divs = std::move(divs);
    return p;
}

const QList<PageLink> twoPapers{{QStringLiteral("Paper A"), QStringLiteral("http://site/paper/1")},
                                {QStringLiteral("Paper B"), QStringLiteral("http://site/paper/2")}};

// Result pages without a browser: page n lists one paper and a ">" link that leads to next(n).
class ChainOfPages : public ResultPageBrowser
{
public:
    std::function<int(int)> next;
    std::function<QString(int)> address = [](int n) {
        return QStringLiteral("http://site/r?page=%1").arg(n);
    };
    AddAllWalk *walk = nullptr;
    int current = 1;
    int clicks = 0;

    void readPage(QObject *context, std::function<void(const PageSnapshot &)> done) override
    {
        PageSnapshot p;
        p.valid = true;
        p.documentAddress = address(current);
        p.divs = {PageDiv{
            QStringLiteral("tablelist paperlist"),
            1,
            {{QStringLiteral("Paper %1").arg(current), QStringLiteral("http://site/p/%1").arg(current)}}}};
        p.anchorTexts = {QStringLiteral("1"), QStringLiteral(">")};
        QTimer::singleShot(0, context, [done, p] { done(p); });
    }
    void clickAnchor(int anchorIndex) override
    {
        QCOMPARE(anchorIndex, 1);
        ++clicks;
        current = next(current);
        walk->documentComplete();
    }
    bool isBusy() const override { return false; }
};

void fill(CandidateListModel &list, int n, const QString &status = {})
{
    for (int i = 0; i < n; ++i) {
        const int at = list.count();
        list.加入LV1(QStringLiteral("Title %1").arg(at), QStringLiteral("http://site/p/%1.pdf").arg(at),
                     QStringLiteral("http://site/r"), QStringLiteral("pdf"), QString());
        list.setStatus(at, status);
    }
}
} // namespace

class TestSearchCore : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void candidateListKeepsFirstOccurrenceAndFollowsTheModelProtocol()
    {
        CandidateListModel list;
        QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(list.加入LV1("First", "http://a/1.pdf", "http://r/1", "pdf", "/f/"));
        list.setStatus(0, candidatetext::Succeeded);
        QVERIFY(!list.加入LV1("Second", "http://a/1.pdf", "http://r/2", "pdf", "/g/"));
        QCOMPARE(list.count(), 1);
        const CandidateRow &row = list.row(0);
        QCOMPARE(row.title, QStringLiteral("First"));
        QCOMPARE(row.tag, QStringLiteral("http://r/1"));
        QCOMPARE(row.folder, QStringLiteral("/f/"));
        QCOMPARE(row.status, candidatetext::Succeeded);
        QVERIFY(!(list.flags(list.index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(!list.setData(list.index(0, 0), "edited"));
        QStringList headers;
        for (int c = 0; c < list.columnCount(); ++c)
            headers << list.headerData(c, Qt::Horizontal).toString();
        // The four columns of the list come first; what the page told about the paper follows.
        QCOMPARE(headers, (QStringList{"标题", "类型", "分析状态", "保存路径", "作者", "年份"}));

        fill(list, 5);
        QCOMPARE(
            RemoveCandidates(list, RemovalRule::Selected, {}, {"http://site/p/2.pdf", "http://site/p/3.pdf"}),
            2);
        QCOMPARE(list.count(), 4);
        // A removed key can be taken again.
        QVERIFY(list.加入LV1("Again", "http://site/p/2.pdf", "r", "pdf", ""));
        list.clear();
        QCOMPARE(list.count(), 0);
        QVERIFY(list.加入LV1("Fresh", "http://a/1.pdf", "r", "pdf", ""));
    }

    void extractionFindsOnlyTheExactPaperList_data()
    {
        QTest::addColumn<PageSnapshot>("snapshot");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("class in another letter case matches")
            << page({div("other", 0), div("TableList PaperList", 1, twoPapers)})
            << QStringList{"Paper A", "Paper B"};
        QTest::newRow("a further class name does not match")
            << page({div("tablelist paperlist wide", 1, twoPapers)}) << QStringList{};
        QTest::newRow("blanks around the class do not match")
            << page({div(" tablelist paperlist", 1, twoPapers)}) << QStringList{};
        QTest::newRow("only the first list is read, even without a table")
            << page({div("tablelist paperlist", 0), div("tablelist paperlist", 1, twoPapers)})
            << QStringList{};
        QTest::newRow("two tables give nothing")
            << page({div("tablelist paperlist", 2, twoPapers)}) << QStringList{};
        QTest::newRow("links without text or address are skipped")
            << page({div("tablelist paperlist", 1,
                         {{"", "http://site/img"}, {"No address", ""}, {"  Kept  ", "http://site/paper/9"}})})
            << QStringList{"  Kept  "};
        QTest::newRow("a paper linked twice is one row")
            << page({div("tablelist paperlist", 1,
                         twoPapers + QList<PageLink>{{"Paper A again", "http://site/paper/1"}})})
            << QStringList{"Paper A", "Paper B"};
        PageSnapshot unreadable;
        QTest::newRow("no document") << unreadable << QStringList{};
    }

    void extractionFindsOnlyTheExactPaperList()
    {
        QFETCH(PageSnapshot, snapshot);
        QFETCH(QStringList, titles);
        CandidateListModel list;
        QCOMPARE(ExtractResultPage(snapshot, list, QStringLiteral("/save/")), titles.size());
        QStringList got;
        for (int i = 0; i < list.count(); ++i)
            got << list.row(i).title;
        QCOMPARE(got, titles);
    }

    void extractedRowCarriesKeyTagTypeAndFolder()
    {
        CandidateListModel list;
        ExtractResultPage(page({div("tablelist paperlist", 1, {{"T", "http://site/paper/123"}})}), list, "");
        const CandidateRow &row = list.row(0);
        QCOMPARE(row.key, QStringLiteral("http://site/paper/123.pdf"));
        QCOMPARE(row.type, QStringLiteral("pdf"));
        QCOMPARE(row.status, QString());
        QCOMPARE(row.folder, QString());
        QCOMPARE(row.tag, QStringLiteral("http://site/search?page=1"));
    }

    void snapshotIsReadFromTheScriptResult()
    {
        QVariantMap link;
        const QVariantMap result{
            {"url", "http://site/r"},
            {"divs", QVariantList{QVariantMap{{"cls", "tablelist paperlist"},
                                              {"tables", 1},
                                              {"links", QVariantList{QVariantList{"T", "http://site/p"}}}}}},
            {"anchors", QVariantList{"T", ">"}}};
        const PageSnapshot p = snapshotFromScriptResult(result);
        QVERIFY(p.valid);
        QCOMPARE(p.divs.size(), 1);
        QCOMPARE(p.divs.at(0).tableLinks.at(0).address, QStringLiteral("http://site/p"));
        QCOMPARE(findNextPageLink(p.anchorTexts), 1);
        QVERIFY(!snapshotFromScriptResult(QVariant()).valid);
        QVERIFY(!snapshotFromScriptResult(QVariantMap{{"url", "x"}}).valid);
    }

    void nextPageLinkIsExactlyOneAngleBracket_data()
    {
        QTest::addColumn<QStringList>("anchors");
        QTest::addColumn<int>("found");
        QTest::newRow("bare") << QStringList{"1", "2", ">"} << 2;
        QTest::newRow("between spaces") << QStringList{"   >  "} << 0;
        QTest::newRow("two brackets") << QStringList{">>"} << -1;
        QTest::newRow("bracket and words") << QStringList{"> next page"} << -1;
        QTest::newRow("first of several") << QStringList{"x", ">", ">"} << 1;
        QTest::newRow("none") << QStringList{} << -1;
    }

    void nextPageLinkIsExactlyOneAngleBracket()
    {
        QFETCH(QStringList, anchors);
        QFETCH(int, found);
        QCOMPARE(findNextPageLink(anchors), found);
    }

    void walkAlwaysEnds_data()
    {
        QTest::addColumn<int>("loopBackTo"); // 0: every ">" leads to a new page
        QTest::addColumn<int>("loopAfter");
        QTest::addColumn<bool>("fragments");
        QTest::addColumn<int>("pages");
        QTest::addColumn<AddAllWalk::End>("reason");
        QTest::newRow("an endless chain of new pages: does the walk end at 10,000?")
            << 0 << 0 << false << 10000 << AddAllWalk::End::PageLimit;
        QTest::newRow("1 -> 2 -> 1: does the walk end back at the first page?")
            << 1 << 2 << false << 2 << AddAllWalk::End::Revisited;
        QTest::newRow("a page whose > leads to itself: does it end after one page?")
            << 1 << 1 << false << 1 << AddAllWalk::End::Revisited;
        QTest::newRow("a loop from page 40 back to 7: is each page taken once?")
            << 7 << 40 << false << 40 << AddAllWalk::End::Revisited;
        QTest::newRow("the same page under another fragment: is it the same page?")
            << 1 << 2 << true << 2 << AddAllWalk::End::Revisited;
    }
    void walkAlwaysEnds()
    {
        QFETCH(int, loopBackTo);
        QFETCH(int, loopAfter);
        QFETCH(bool, fragments);
        QFETCH(int, pages);
        QFETCH(AddAllWalk::End, reason);
        CandidateListModel list;
        ChainOfPages browser;
        browser.next = [&](int n) { return loopBackTo > 0 && n == loopAfter ? loopBackTo : n + 1; };
        int visits = 0;
        if (fragments)
            browser.address = [&](int n) {
                return QStringLiteral("http://site/r?page=%1#visit%2").arg(n).arg(++visits);
            };
        AddAllWalk walk(&browser, &list);
        browser.walk = &walk;
        walk.setWaitLimits(30000, 0);
        walk.setPollInterval(0);
        walk.setSaveFolder(QStringLiteral("/walk/"));
        QSignalSpy finished(&walk, &AddAllWalk::finished);
        walk.start();
        QVERIFY(finished.wait(120000));
        QCOMPARE(walk.endReason(), reason);
        QCOMPARE(walk.pagesTaken(), pages);
        QCOMPARE(list.count(), pages);
        QCOMPARE(list.row(pages - 1).folder, QStringLiteral("/walk/")); // the folder the walk was given
        QCOMPARE(browser.clicks, reason == AddAllWalk::End::PageLimit ? pages - 1 : pages);
        QVERIFY(!walk.isRunning());

        // A new walk starts afresh: the pages of the last one do not count as visited.
        browser.current = 1;
        walk.start();
        QVERIFY(finished.wait(120000));
        QCOMPARE(walk.pagesTaken(), pages);
    }

    void handOverNamesTheFileByTheChosenRule()
    {
        DownloadListModel downloads;
        HandOverOptions options;
        options.defaultFolder = QStringLiteral("/papers/");
        options.namesFromLinks = true;
        QVERIFY(加入下载列表(TestRows::of(downloads), "http://site/paper/123.pdf", "Title", "pdf", "",
                             "http://site/r", options));
        QCOMPARE(downloads.row(0).name, QStringLiteral("123"));
        QCOMPARE(downloads.row(0).folder, QStringLiteral("/papers/"));
        QCOMPARE(downloads.row(0).tag, QStringLiteral("http://site/r"));
        QCOMPARE(downloads.row(0).state, RowState::Waiting);
        QCOMPARE(downloads.cellText(0, DownloadListModel::ColSize), QString());

        options.namesFromLinks = false;
        QVERIFY(加入下载列表(TestRows::of(downloads), "http://site/paper/124.pdf",
                             " Deep\r\nlearning: a/b? \n", "pdf", "/own/", "", options));
        QCOMPARE(downloads.row(1).name, QStringLiteral("Deeplearning ab"));
        QCOMPARE(downloads.row(1).folder, QStringLiteral("/own/"));

        // An address already listed keeps its row and still counts as handed over.
        QVERIFY(加入下载列表(TestRows::of(downloads), "http://site/paper/124.pdf", "Other", "pdf", "/x/", "",
                             options));
        QCOMPARE(downloads.count(), 2);
        QCOMPARE(downloads.row(1).name, QStringLiteral("Deeplearning ab"));
    }

    void aNameNeverCleansDownToNothing()
    {
        HandOverOptions fromTitle;
        HandOverOptions fromLink;
        fromLink.namesFromLinks = true;
        QCOMPARE(DownloadNameFor("http://site/paper/77.pdf", "...", "pdf", fromTitle), QStringLiteral("77"));
        QCOMPARE(DownloadNameFor("http://site/paper/77.pdf", "\r\n  ", "pdf", fromTitle),
                 QStringLiteral("77"));
        QCOMPARE(DownloadNameFor("http://site/paper/.pdf", "Title", "pdf", fromLink),
                 QStringLiteral("Title"));
        QVERIFY(!DownloadNameFor("http://site/paper/.pdf", "???", "pdf", fromLink).isEmpty());

        // A long Chinese title must still fit a file name on disk with a counter and the extension.
        const QString name =
            DownloadNameFor("http://site/p/1.pdf", QString(200, QChar(0x6587)), "pdf", fromTitle);
        QVERIFY(!name.isEmpty());
        QVERIFY((name + "[001].pdf").toUtf8().size() <= 255);
    }

    void hostileTitlesNeverMakeBadFileNames_data()
    {
        QTest::addColumn<bool>("fromLink");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("name");
        const QString paper = QStringLiteral("http://site/paper/77.pdf");
        QTest::newRow("dots and spaces only: does the link name the file?") << false << paper << ". . ."
                                                                            << "77";
        QTest::newRow("spaces around two dots: does the link name the file?") << false << paper << " .. "
                                                                              << "77";
        QTest::newRow("a dot shielded by a space: is the file still visible?") << false << paper << ". .x."
                                                                               << "x";
        QTest::newRow("an escape sequence: does ESC stay out of the name?")
            << false << paper << "[31mRed[0m title"
            << "[31mRed[0m title";
        QTest::newRow("tab, DEL and C1 controls: are they removed?") << false << paper
                                                                     << QStringLiteral("a	b"
                                                                                       "cde")
                                                                     << "abcde";
        QTest::newRow("bidirectional overrides and isolates: are they removed?")
            << false << paper << QStringLiteral("cod‮fdp.exe‪‫‬‭⁦⁧⁨⁩‎‏؜")
            << "codfdp.exe";
        QTest::newRow("a title of controls only: does the link name the file?")
            << false << paper << QStringLiteral("‮") << "77";
        QTest::newRow("link names: a link named only by dots gives way to the title")
            << true << "http://site/paper/. . ..pdf"
            << "Title"
            << "Title";
        QTest::newRow("link names: controls in the link's name are removed")
            << true
            << QStringLiteral("http://site/paper/a"
                              "b‮.pdf")
            << "Title"
            << "ab";
        QTest::newRow("both sources unusable: is the name still not hidden?")
            << true << "http://site/paper/...pdf"
            << " . "
            << "未命名";
    }
    void hostileTitlesNeverMakeBadFileNames()
    {
        QFETCH(bool, fromLink);
        QFETCH(QString, address);
        QFETCH(QString, title);
        QFETCH(QString, name);
        HandOverOptions options;
        options.namesFromLinks = fromLink;
        QCOMPARE(DownloadNameFor(address, title, QStringLiteral("pdf"), options), name);
    }

    void papersTakenAreKeptInTheLibrary()
    {
        QTemporaryDir dir;
        PaperLibrary library(dir.path() + QStringLiteral("/PaperLibrary.db"));
        QVERIFY(library.open().ok);
        CandidateListModel list;
        SeenRecorder recorder(&library, &list);
        PageSnapshot page;
        page.valid = true;
        page.documentAddress = QStringLiteral("http://site/results?page=1");
        PageDiv div;
        div.className = QStringLiteral("tablelist paperlist");
        div.tableCount = 1;
        for (int n = 1; n <= 3; ++n)
            div.tableLinks.append(PageLink{QStringLiteral("Paper %1").arg(n),
                                           QStringLiteral("http://site/paper/%1").arg(n),
                                           {{QStringLiteral("作者"), QStringLiteral("作者%1").arg(n)},
                                            {QStringLiteral("年份"), QStringLiteral("2021")}}});
        page.divs = {div};
        QCOMPARE(ExtractResultPage(page, list, QStringLiteral("/f/")), 3);
        // One page is one write, at the next turn of the event loop.
        QCOMPARE(library.paperCount(), 0);
        QTRY_COMPARE(library.paperCount(), 3);
        const std::optional<PaperRecord> second = library.record(QStringLiteral("http://site/paper/2.pdf"));
        QVERIFY(second);
        QCOMPARE(second->metadata.title, QStringLiteral("Paper 2"));
        QCOMPARE(second->metadata.authors(), QStringLiteral("作者2"));
        QCOMPARE(second->metadata.year(), QStringLiteral("2021"));
        QCOMPARE(second->sourcePage, page.documentAddress);

        // The list keeps a paper's first row; the library is not written for a row the list did not take.
        page.documentAddress = QStringLiteral("http://site/results?page=2");
        QCOMPARE(ExtractResultPage(page, list, QStringLiteral("/f/")), 0);
        recorder.flush();
        QCOMPARE(library.record(QStringLiteral("http://site/paper/2.pdf"))->sourcePage,
                 QStringLiteral("http://site/results?page=1"));
    }

    // The papers of a page are written on a thread of their own: while another program holds the library's
    // write lock the event loop goes on, and the recorder that goes away right after the next page (the
    // window closes) has written both pages once the lock is released.
    void papersTakenReachTheLibraryOffTheEventLoopAndAtTheClose()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/PaperLibrary.db");
        PaperLibrary library(path);
        library.setBusyTimeoutMs(20000);
        QVERIFY(library.open().ok);
        CandidateListModel list;
        const auto pageOf = [](int number) {
            PageSnapshot page;
            page.valid = true;
            page.documentAddress = QStringLiteral("http://site/results?page=%1").arg(number);
            PageDiv div;
            div.className = QStringLiteral("tablelist paperlist");
            div.tableCount = 1;
            for (int n = 1; n <= 2; ++n)
                div.tableLinks.append(PageLink{QStringLiteral("Paper %1-%2").arg(number).arg(n),
                                               QStringLiteral("http://site/paper/%1-%2").arg(number).arg(n),
                                               {}});
            page.divs = {div};
            return page;
        };
        {
            QSqlDatabase holder =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            holder.setDatabaseName(path);
            QVERIFY(holder.open());
            QVERIFY(QSqlQuery(holder).exec(QStringLiteral("BEGIN IMMEDIATE")));
            QStringList failures;
            {
                SeenRecorder recorder(&library, &list);
                connect(&recorder, &SeenRecorder::failed, this,
                        [&failures](const QString &message) { failures.append(message); });
                QCOMPARE(ExtractResultPage(pageOf(1), list, QStringLiteral("/f/")), 2);
                QElapsedTimer held;
                held.start();
                QTest::qWait(500); // the first page's write waits on the lock meanwhile, on its own thread
                QVERIFY2(held.elapsed() < 10000, qPrintable(QString::number(held.elapsed())));
                QCOMPARE(ExtractResultPage(pageOf(2), list, QStringLiteral("/f/")), 2);
                QVERIFY(QSqlQuery(holder).exec(QStringLiteral("COMMIT")));
                holder.close();
            }
            QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        QCOMPARE(library.paperCount(), 4);
        const std::optional<PaperRecord> last = library.record(QStringLiteral("http://site/paper/2-2.pdf"));
        QVERIFY(last);
        QCOMPARE(last->metadata.title, QStringLiteral("Paper 2-2"));
        QCOMPARE(last->sourcePage, QStringLiteral("http://site/results?page=2"));
    }

    void templateNamesThroughTheHandOver_data()
    {
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("authors");
        QTest::addColumn<QString>("name");
        const QString title = QStringLiteral(" Deep\r\nlearning: a/b? \n");
        QTest::newRow("default template: the very name of the title") << "{标题}" << title << "张伟"
                                                                      << "Deeplearning ab";
        QTest::newRow("blank template: the default") << "  " << title << "张伟"
                                                     << "Deeplearning ab";
        QTest::newRow("year, authors, title") << "{年份}-{作者}-{标题}"
                                              << "Deep learning"
                                              << "张伟; 王芳"
                                              << "2019-张伟; 王芳-Deep learning";
        QTest::newRow("no authors: their separator goes too") << "{年份}-{作者}-{标题}"
                                                              << "Deep learning"
                                                              << ""
                                                              << "2019-Deep learning";
        QTest::newRow("hostile cells: no slash, no control reaches the name")
            << "{作者}_{标题}"
            << "T" << QStringLiteral("../a/b\x1b[31m\u202e") << "ab [31m_T";
        QTest::newRow("a template that gives nothing: the title") << "{作者}"
                                                                  << "Only title"
                                                                  << ""
                                                                  << "Only title";
    }
    void templateNamesThroughTheHandOver()
    {
        QFETCH(QString, nameTemplate);
        QFETCH(QString, title);
        QFETCH(QString, authors);
        QFETCH(QString, name);
        HandOverOptions options;
        options.nameTemplate = nameTemplate;
        CandidateListModel list;
        QVERIFY(list.加入LV1(
            title, "http://site/paper/9.pdf", "http://site/r", "pdf", "/papers/",
            {{QStringLiteral("作者"), authors}, {QStringLiteral("年份"), QStringLiteral("2019-05")}}));
        DownloadListModel downloads;
        QVERIFY(HandOverCandidate(list, 0, TestRows::of(downloads), options));
        QCOMPARE(downloads.row(0).name, name);
    }

    void templateNamesFitTheDisk()
    {
        // At the 255-byte edge: the name leaves room for a counter and the extension, cut whole characters.
        HandOverOptions options;
        options.nameTemplate = QStringLiteral("{作者}-{标题}");
        for (int authors : {60, 80, 81, 82, 120}) {
            const QString name =
                DownloadNameFor("http://site/p/1.pdf", QStringLiteral("题名"), "pdf", options,
                                {{QStringLiteral("作者"), QString(authors, QChar(0x5F20))}});
            QVERIFY(!name.isEmpty());
            QVERIFY2((name + "[001].pdf").toUtf8().size() <= 255, qPrintable(QString::number(authors)));
            QVERIFY(name.startsWith(QString(std::min(authors, 60), QChar(0x5F20))));
        }
    }

    void analysisHandsOverByCommandAndReports()
    {
        CandidateListModel list;
        DownloadListModel downloads;
        int shown = 0;
        int chooserCalls = 0;
        QSet<int> selected;
        HandOverOptions handOver;
        handOver.defaultFolder = QStringLiteral("/papers/"); // chosen when the rows were taken
        AnalysisHooks hooks{
            [&] { return ++chooserCalls > 0; },
            [&](const CandidateListModel &c, int p, const HandOverOptions &o, HandOverTally *t) {
                return HandOverCandidate(c, p, TestRows::of(downloads), o, t);
            },
            [&] { ++shown; },
            [&](int p) { return selected.contains(p); },
            [&] { return handOver; },
            [] { return true; }};
        CandidateAnalysis analysis(&list, hooks);
        QSignalSpy finished(&analysis, &CandidateAnalysis::finished);
        QStringList progress;
        connect(&analysis, &CandidateAnalysis::progressTextChanged, this,
                [&](const QString &t) { progress << t; });

        fill(list, 5, candidatetext::Succeeded);
        fill(list, 15);
        QVERIFY(analysis.AnalysisStopped());
        analysis.start(AnalysisCommand::Unanalysed);
        QVERIFY(!analysis.AnalysisStopped());
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(1).toString(), QStringLiteral("本次分析成功：15条"));
        QCOMPARE(downloads.count(), 15);
        QCOMPARE(progress.first(), QStringLiteral("正在分析,请稍候..."));
        QCOMPARE(progress.last(), QStringLiteral("正在分析第20/20条记录：Title 19"));
        QCOMPARE(progress.size(), 21);
        QCOMPARE(chooserCalls, 0);
        QCOMPARE(shown, 1);
        QVERIFY(analysis.AnalysisStopped());

        // Everything again: statuses are set anew, nothing is listed twice, all count.
        analysis.start(AnalysisCommand::All);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(0).toInt(), 20);
        QCOMPARE(downloads.count(), 20);
        for (int i = 0; i < list.count(); ++i)
            QCOMPARE(list.row(i).status, candidatetext::Succeeded);

        analysis.start(AnalysisCommand::Failed);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(1).toString(), QStringLiteral("本次分析成功：0条"));
        QCOMPARE(shown, 3);

        list.setStatus(3, candidatetext::Failed);
        selected = {3, 4};
        list.setStatus(4, candidatetext::Failed);
        list.加入LV1("New", "http://site/new.pdf", "r", "pdf", "");
        analysis.start(AnalysisCommand::Selected);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(0).toInt(), 2);
        QCOMPARE(list.row(4).status, candidatetext::Succeeded);
        QCOMPARE(list.row(20).status, QString());
    }

    void analysisAsksForTheFolderAndStops()
    {
        CandidateListModel list;
        DownloadListModel downloads;
        bool cancel = true;
        int shown = 0;
        int asked = 0;
        HandOverOptions handOver;
        bool askedWhenTaken = true;
        const auto chooser = [&] {
            ++asked;
            if (!cancel)
                handOver.defaultFolder = QStringLiteral("/papers/");
            return !cancel;
        };
        AnalysisHooks hooks{
            chooser,
            [&](const CandidateListModel &c, int p, const HandOverOptions &o, HandOverTally *t) {
                return HandOverCandidate(c, p, TestRows::of(downloads), o, t);
            },
            [&] { ++shown; },
            {},
            [&] { return handOver; },
            [&] { return askedWhenTaken; }};
        CandidateAnalysis analysis(&list, hooks);
        QSignalSpy finished(&analysis, &CandidateAnalysis::finished);
        fill(list, 4);

        // Rows without a folder are asked for whatever the option says, and never listed without one.
        analysis.start(AnalysisCommand::All);
        QVERIFY(finished.wait(5000));
        QCOMPARE(asked, 1);
        QVERIFY(!HandOverCandidate(list, 0, TestRows::of(downloads), handOver));
        QCOMPARE(downloads.count(), 0);
        shown = 0;
        askedWhenTaken = false;

        analysis.start(AnalysisCommand::All);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(0).toInt(), 0);
        QCOMPARE(list.row(0).status, QString());
        QCOMPARE(downloads.count(), 0);
        QCOMPARE(shown, 1);

        // A stop asked for during the first row ends the run after that row.
        cancel = false;
        connect(
            &downloads, &QAbstractItemModel::rowsInserted, &analysis, [&] { analysis.stop(); },
            Qt::SingleShotConnection);
        analysis.start(AnalysisCommand::Unanalysed);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(0).toInt(), 1);
        QCOMPARE(list.row(1).status, QString());
        QCOMPARE(shown, 2);

        // An empty list still ends with the report and the download window.
        list.clear();
        analysis.start(AnalysisCommand::Unanalysed);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().at(1).toString(), QStringLiteral("本次分析成功：0条"));
        QCOMPARE(shown, 3);
    }

    void exportWritesCodePageLinesAndReportsTheSize()
    {
        CandidateListModel list;
        list.加入LV1("Deep learning for X", "k1", "", "pdf", "/f/");
        list.setStatus(0, candidatetext::Succeeded);
        list.加入LV1("深度学习", "k2", "", "pdf", "");
        list.加入LV1("Broken", "k3", "", "pdf", "");
        list.setStatus(2, candidatetext::Failed);
        QTemporaryDir dir;
        const QString path = dir.path() + "/out.txt";
        const qint64 size = writeCandidateExport(list, path);
        const QByteArray expected = QByteArray("Deep learning for X-") + gbk::encode("【pdf】成功") + "\r\n" +
                                    gbk::encode("深度学习-【pdf】") + "\r\n" + "Broken-" +
                                    gbk::encode("【pdf】分析失败") + "\r\n";
        QCOMPARE(fntest::readFile(path), expected);
        QCOMPARE(size, expected.size());
        QCOMPARE(exportSavedMessage(size), QStringLiteral("保存文件完毕：0.1KB"));

        // A file that cannot be written reports failure and leaves nothing half-written.
        QCOMPARE(writeCandidateExport(list, dir.path() + "/missing/out.txt"), qint64(-1));
    }

    void exportSizeFormat_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << qint64(0) << "0.0";
        QTest::newRow("rounds up") << qint64(307) << "0.3";
        QTest::newRow("thousands") << qint64(1264128) << "1,234.5";
        QTest::newRow("millions") << qint64(1024LL * 1234567) << "1,234,567.0";
        QTest::newRow("carry into whole") << qint64(1023) << "1.0";
    }

    void exportSizeFormat()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(exportSavedMessage(bytes), QStringLiteral("保存文件完毕：") + text + "KB");
    }

    void removalRules()
    {
        CandidateListModel list;
        list.加入LV1("Using pdf files", "a", "", "pdf", "");
        list.加入LV1("Paper", "b", "", "pdf", "");
        list.加入LV1("PDF tools", "c", "", "pdf", "");
        list.setStatus(1, candidatetext::Succeeded);
        list.setStatus(2, candidatetext::Failed);
        QCOMPARE(RemoveCandidates(list, RemovalRule::Succeeded), 1);
        QCOMPARE(list.count(), 2);
        QCOMPARE(RemoveCandidates(list, RemovalRule::TitleLacks, "TOOLS"), 1);
        QCOMPARE(list.row(0).title, QStringLiteral("PDF tools"));
        list.加入LV1("Paper", "b", "", "pdf", "");
        QCOMPARE(RemoveCandidates(list, RemovalRule::TitleContains, "pdf"), 1);
        QCOMPARE(list.row(0).title, QStringLiteral("Paper"));
    }

    void layoutLimits()
    {
        using namespace searchlayout;
        Input in;
        in.window = QSize(6000, 3000);
        in.barTop = 2000;
        in.barHeight = 75;
        in.statusBarHeight = 300;
        in.listOffset = QPoint(60, 480);
        in.progressSize = QSize(4000, 900);
        Result r = arrange(in);
        QCOMPARE(r.window, QSize(9000, 5000));

        in.window = QSize(10000, 10000);
        in.barTop = 9500;
        QCOMPARE(arrange(in).bar.top(), 8000);
        in.barTop = -15;
        QCOMPARE(arrange(in).bar.top(), 8000);
        in.barTop = 7000;
        r = arrange(in);
        QCOMPARE(r.bar, QRect(20, 7000, 9700, 75));
        QCOMPARE(r.webPanel, QRect(20, 0, 9700, 7000));
        QCOMPARE(r.listPanel, QRect(20, 7075, 9700, 10000 - 300 - 7000 - 75 - 870));
        QCOMPARE(r.browser.size(), QSize(9680, 6980));
        QCOMPARE(r.list, QRect(60, 480, 9700 - 60 - 50, r.listPanel.height() - 480 - 50));
        QCOMPARE(r.progress.topLeft(), QPoint((9700 - 4000) / 2, (r.listPanel.height() - 900) / 2));
        QCOMPARE(r.progress.size(), in.progressSize);

        // The list's least height: four fifths hold while it fits below, the bar goes higher when not.
        in.listMinHeight = 200;
        in.barTop = -1;
        QCOMPARE(arrange(in).bar.top(), 8000);
        QVERIFY(arrange(in).list.height() >= 200);
        in.listMinHeight = 3000;
        r = arrange(in);
        QCOMPARE(r.list.height(), 3000);
        QCOMPARE(r.bar.top(), 10000 - heightBelowBar(in));
        in.barTop = 7000; // a bar dragged into the list's room goes back up as well
        QCOMPARE(arrange(in).bar.top(), r.bar.top());
        in.barTop = 2000;
        QCOMPARE(arrange(in).bar.top(), 2000);

        // A window too low for the list grows, and its minimum with it.
        in.window = QSize(9000, 5000);
        in.webPanelTop = 100;
        in.listMinHeight = 5000;
        r = arrange(in);
        QCOMPARE(r.minimum, QSize(9000, 100 + heightBelowBar(in)));
        QCOMPARE(r.window, r.minimum);
        QCOMPARE(r.bar.top(), 100);
        QCOMPARE(r.list.height(), 5000);
        in.listMinHeight = 0;
        QCOMPARE(arrange(in).minimum, QSize(9000, 5000));

        // A window whose only overhead is a menu bar gives the list panel all the room below the bar.
        in.window = QSize(10000, 10000);
        in.barTop = 7000;
        in.overhead = 330;
        QCOMPARE(arrange(in).listPanel.bottom() + 1, 10000 - 300 - 330);
    }

    void columnsGiveWayByWeight_data()
    {
        QTest::addColumn<QList<int>>("wanted");
        QTest::addColumn<int>("room");
        QTest::addColumn<QList<int>>("widths");
        // title 3, type 0, folder 1, year 0
        QTest::newRow("room for all: does each keep its width?")
            << QList<int>{300, 40, 200, 50} << 700 << QList<int>{300, 40, 200, 50};
        QTest::newRow("too narrow: do the weighted share what type and year leave?")
            << QList<int>{1200, 40, 400, 50} << 710 << QList<int>{465, 40, 155, 50};
        QTest::newRow("a narrow folder: does it keep its width and the title take the rest?")
            << QList<int>{1200, 40, 100, 50} << 710 << QList<int>{520, 40, 100, 50};
        QTest::newRow("no room, a column narrower than the least: does it keep its own?")
            << QList<int>{1200, 40, 30, 50} << 100 << QList<int>{60, 40, 30, 50};
    }
    void columnsGiveWayByWeight()
    {
        QFETCH(QList<int>, wanted);
        QFETCH(int, room);
        QFETCH(QList<int>, widths);
        QCOMPARE(searchlayout::fitColumns(wanted, {3, 0, 1, 0}, room, 60), widths);
    }
};

FN_TEST_MAIN_CORE(TestSearchCore)
#include "tst_searchcore.moc"

#include "browser/browserprofile.h"
#include "browser/webengineresultpage.h"
#include "commonseams.h"
#include "core/common/clock.h"
#include "core/common/disklooks.h"
#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/search/addallwalk.h"
#include "core/search/candidatelistmodel.h"
#include "core/search/resultpage.h"
#include "core/settings/sharedoptions.h"
#include "desktop/filedialogs.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrows.h"
#include "testrun.h"
#include "ui/fwebsearch.h"
#include "ui/searchdialogs.h"
#include "ui/searchwindowhost.h"
#include "windowseams.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWebEngineView>
#include <memory>

namespace {

// Stands in for the application: owns a real download list and records what the window asked for.
class TestHost : public SearchWindowHost
{
public:
    std::unique_ptr<DownloadQueue> downloads;
    int downloadShown = 0;
    int startupShown = 0;
    int chooserRuns = 0;
    bool chooserConfirms = true;
    QString chooserFolder = QStringLiteral("/chosen/");
    bool chooserUsesLinkNames = false;
    QStringList calls;

    DownloadQueue *loadDownloadWindow() override
    {
        if (!downloads)
            downloads = std::make_unique<DownloadQueue>();
        return downloads.get();
    }
    void showDownloadWindow() override
    {
        loadDownloadWindow();
        ++downloadShown;
    }
    bool isDownloadWindowLoaded() const override { return downloads != nullptr; }
    void showStartupWindow() override { ++startupShown; }
    bool runSaveLocationChooser(QWidget *) override
    {
        ++chooserRuns;
        SharedOptions &o = TestOptions::edit();
        if (chooserConfirms) {
            o.DefaultSaveFolder = chooserFolder;
            o.UseOriginalFileName = chooserUsesLinkNames;
        }
        return chooserConfirms;
    }
    void showOptions(QWidget *) override { calls << "options"; }
    void showAbout(QWidget *) override { calls << "about"; }
    void showCacheViewer(QWidget *) override { calls << "cache viewer"; }
    void clearBrowserCache() override { calls << "clear cache"; }
};

QByteArray resultPage(const QByteArray &papers, const QByteArray &next)
{
    return "<html><head><meta charset='utf-8'><title>results</title></head><body>"
           "<div class='head'><a href='index.html'>home</a></div>"
           "<div class='TableList PaperList'><table>" +
           papers + "</table></div><div class='pager'><a href='x.html'>1</a>" + next + "</body></html>";
}

QByteArray paper(const QByteArray &href, const QByteArray &title)
{
    return "<tr><td><a href='" + href + "'>" + title + "</a></td></tr>";
}

QAction *findAction(QWidget *window, const QString &text)
{
    for (QAction *a : window->findChildren<QAction *>())
        if (a->text() == text)
            return a;
    return nullptr;
}

QStringList texts(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

} // namespace

class TestSearchWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    TestHost m_host;
    QPointer<fWebSearch> m_window;
    fntest::MessageRecorder *m_messages = nullptr;

    QUrl pageUrl(const QString &name) const { return QUrl::fromLocalFile(m_dir.path() + u'/' + name); }

    void write(const QString &name, const QByteArray &html)
    {
        fntest::writeFile(m_dir.path() + u'/' + name, html);
    }

    // Loads a page and waits until that page (not one whose load it interrupted) has finished.
    bool load(const QUrl &url)
    {
        QSignalSpy loaded(m_window->page(), &QWebEnginePage::loadFinished);
        m_window->page()->load(url);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000) {
            if (!loaded.isEmpty() && loaded.last().at(0).toBool() && m_window->page()->url() == url)
                return true;
            loaded.wait(200);
        }
        return false;
    }

    QPushButton *button(const char *name) const
    {
        return m_window->findChild<QPushButton *>(QLatin1String(name));
    }
    QString label1() const { return m_window->findChild<QLabel *>(QStringLiteral("Label1"))->text(); }

    void fillList(int n)
    {
        for (int i = 0; i < n; ++i)
            m_window->candidates()->加入LV1(QStringLiteral("Row %1").arg(i),
                                            QStringLiteral("http://site/p/%1.pdf").arg(i), "http://site/r",
                                            "pdf", "");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        write("index.html", "<html><body>home</body></html>");
        write("page1.html",
              resultPage(paper("paper/1", "First paper") + paper("paper/2", "Second\npaper") +
                             "<tr><td><a href='paper/img'><img src='none.png'></a></td></tr>" +
                             "<tr><td><a>No address</a></td></tr>" + paper("paper/1", "First again"),
                         "<a href='page2.html'> &gt; </a><a href='page3.html'>&gt;&gt;</a>"));
        write("page2.html", resultPage(paper("paper/3", "Third") + paper("paper/1", "First once more"),
                                       "<a href='page3.html'>&gt;</a>"));
        write("page3.html",
              resultPage(paper("paper/4", "Fourth"), "<a href='page1.html'>&gt; first page</a>"));
        write("blank_target.html",
              "<html><body><a id='go' target='_blank' href='page3.html'>open</a></body></html>");
    }

    void init()
    {
        TestOptions::edit() = SharedOptions{};
        m_host = TestHost{};
        m_messages = new fntest::MessageRecorder;
        m_window = new fWebSearch(&m_host, pageUrl("index.html"), fntest::runObjects());
        m_window->addAllWalk()->setWaitLimits(30000, 100);
        m_window->show();
        QTRY_COMPARE_WITH_TIMEOUT(m_window->page()->url(), pageUrl("index.html"), 20000);
        TestOptions::edit().PromptSavePathOnExtract = false;
    }

    void cleanup()
    {
        SearchDialogSeam::setInputBox({});
        SearchDialogSeam::setSaveFileDialog({});
        filedialogs::setFunction({});
        ClockSeam::install(nullptr);
        delete m_window;
        delete m_messages;
    }

    void windowLoadsTheHomePageWithItsCaptionAndMenus()
    {
        QCOMPARE(m_window->objectName(), QStringLiteral("fWebSearch"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Folionexus数据检索分析-墨枢软件"));
        QVERIFY(m_window->testAttribute(Qt::WA_DeleteOnClose));
        // A fresh store asks for the folder when rows are taken.
        QCOMPARE(m_window->AnalysisStopped(), true);
        QStringList bar;
        for (QAction *a : m_window->menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, (QStringList{"浏览(&B)", "清除(&C)", "工具(&T)", "帮助(&H)"}));
        QCOMPARE(texts(m_window->joinMenu()->actions()),
                 (QStringList{"分析未分析项", "分析失败项", "分析选中项", "分析全部"}));
        QCOMPARE(texts(m_window->menuBar()->actions().at(0)->menu()->actions()),
                 (QStringList{"打开Folionexus首页", "打开指定网址...", "从文本文件导入链接…", "-", "后退",
                              "前进", "-", "关闭本窗口"}));
        QCOMPARE(texts(m_window->clearMenu()->actions()),
                 (QStringList{"清除选中项", "清除分析成功项", "清除标题含指定字符项",
                              "清除标题不含指定字符项", "清空全部"}));
        QCOMPARE(texts(m_window->menuBar()->actions().at(2)->menu()->actions()),
                 (QStringList{"设置", "打开下载窗口", "-", "查看IE浏览器缓存", "清空IE浏览器缓存", "-",
                              "文献库", "-", "站点规则…", "检查本页"}));
        QCOMPARE(
            texts(m_window->menuBar()->actions().at(3)->menu()->actions()),
            (QStringList{"关于(&A)", "-", "作者网站－墨枢软件", "最新版本", "软件定制", "给软件作者建议"}));

        findAction(m_window, "清空IE浏览器缓存")->trigger();
        findAction(m_window, "设置")->trigger();
        QCOMPARE(m_host.calls, (QStringList{"clear cache", "options"}));
        findAction(m_window, "打开下载窗口")->trigger();
        QCOMPARE(m_host.downloadShown, 1);
    }

    void extractionReadsTheRealDocument_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QStringList>("titles");
        const QByteArray two = paper("p/1", "A") + paper("p/2", "B");
        QTest::newRow("list inside a wrapper, other letter case")
            << QByteArray("<div class='wrap'><div class='TABLELIST paperList'><table>" + two +
                          "</table></div></div>")
            << QStringList{"A", "B"};
        QTest::newRow("a further class name")
            << QByteArray("<div class='tablelist paperlist wide'><table>" + two + "</table></div>")
            << QStringList{};
        QTest::newRow("two lists, the first without a table")
            << QByteArray(
                   "<div class='tablelist paperlist'>none</div><div class='tablelist paperlist'><table>" +
                   two + "</table></div>")
            << QStringList{};
        QTest::newRow("two tables") << QByteArray("<div class='tablelist paperlist'><table>" + two +
                                                  "</table><table></table></div>")
                                    << QStringList{};
        QTest::newRow("nested table")
            << QByteArray("<div class='tablelist paperlist'><table><tr><td><table>" + two +
                          "</table></td></tr></table></div>")
            << QStringList{};
        QTest::newRow("links without text or address, duplicates")
            << QByteArray("<div class='tablelist paperlist'><table>" + paper("p/1", "A") +
                          "<tr><td><a href='p/9'><img src='x.png'></a><a name='n'>Named</a></td></tr>" +
                          paper("p/1", "A2") + "</table></div>")
            << QStringList{"A"};
    }

    void extractionReadsTheRealDocument()
    {
        QFETCH(QByteArray, html);
        QFETCH(QStringList, titles);
        write("edge.html", "<html><body>" + html + "</body></html>");
        QVERIFY(load(pageUrl("edge.html")));
        WebEngineResultPage reader(m_window->page(), fntest::siteRules());
        bool read = false;
        PageSnapshot snapshot;
        reader.readPage(this, [&](const PageSnapshot &p) {
            snapshot = p;
            read = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(read, 20000);
        QVERIFY(snapshot.valid);
        CandidateListModel list;
        ExtractResultPage(snapshot, list, "/f/");
        QStringList got;
        for (int i = 0; i < list.count(); ++i)
            got << list.row(i).title;
        QCOMPARE(got, titles);
        if (!titles.isEmpty()) {
            QCOMPARE(list.row(0).key, pageUrl("p/1").toString() + ".pdf");
            QCOMPARE(list.row(0).tag, pageUrl("edge.html").toString());
        }
    }

    void addThisPageAsksForTheFolderOnlyWhenSetTo()
    {
        QVERIFY(load(pageUrl("page1.html")));
        TestOptions::edit().PromptSavePathOnExtract = true;
        m_window->addThisPage();
        QTRY_COMPARE_WITH_TIMEOUT(label1(), QStringLiteral("2"), 20000);
        QCOMPARE(m_host.chooserRuns, 1);
        QCOMPARE(m_window->candidates()->row(0).folder, QStringLiteral("/chosen/"));
        QCOMPARE(m_window->candidates()->row(1).title, QStringLiteral("Second paper"));

        QVERIFY(load(pageUrl("page2.html")));
        TestOptions::edit().PromptSavePathOnExtract = false;
        TestOptions::edit().DefaultSaveFolder.clear();
        m_window->addThisPage();
        QTRY_COMPARE_WITH_TIMEOUT(label1(), QStringLiteral("3"), 20000);
        QCOMPARE(m_host.chooserRuns, 1);
        QCOMPARE(m_window->candidates()->row(2).folder, QString());
    }

    void addAllWalksEveryPageAndReturnsToIdle()
    {
        QVERIFY(load(pageUrl("page1.html")));
        QPushButton *addAll = button("AddAllButton");
        addAll->click();
        QCOMPARE(addAll->text(), QStringLiteral("停止加入全部"));
        QVERIFY(addAll->styleSheet().contains("255, 0, 0"));
        QSignalSpy finished(m_window->addAllWalk(), &AddAllWalk::finished);
        QVERIFY(finished.wait(30000));
        QCOMPARE(addAll->text(), QStringLiteral("加入全部到列表"));
        QVERIFY(addAll->styleSheet().isEmpty());
        CandidateListModel *list = m_window->candidates();
        QCOMPARE(list->count(), 4);
        QCOMPARE(label1(), QStringLiteral("4"));
        QCOMPARE(list->row(2).title, QStringLiteral("Third"));
        QCOMPARE(list->row(2).tag, pageUrl("page2.html").toString());
        QCOMPARE(list->row(3).tag, pageUrl("page3.html").toString());
        QCOMPARE(m_window->page()->url(), pageUrl("page3.html"));
    }

    void addAllEndsWhenNextPagesGoRound_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("papers");
        QTest::newRow("1 -> 2 -> 1: does the walk end back at the first page?") << "round1.html" << 2;
        QTest::newRow("a page whose > leads to itself: does the walk end after it?") << "itself.html" << 1;
    }
    void addAllEndsWhenNextPagesGoRound()
    {
        QFETCH(QString, start);
        QFETCH(int, papers);
        write("round1.html", resultPage(paper("paper/r1", "Round one"), "<a href='round2.html'>&gt;</a>"));
        write("round2.html", resultPage(paper("paper/r2", "Round two"), "<a href='round1.html'>&gt;</a>"));
        write("itself.html", resultPage(paper("paper/it", "Itself"), "<a href='itself.html'>&gt;</a>"));
        QVERIFY(load(pageUrl(start)));
        QSignalSpy finished(m_window->addAllWalk(), &AddAllWalk::finished);
        button("AddAllButton")->click();
        QVERIFY(finished.wait(30000));
        QCOMPARE(m_window->addAllWalk()->endReason(), AddAllWalk::End::Revisited);
        QCOMPARE(button("AddAllButton")->text(), QStringLiteral("加入全部到列表"));
        QCOMPARE(m_window->candidates()->count(), papers);
        QCOMPARE(m_window->statusPanelText(1),
                 QStringLiteral("加入全部结束：下一页链接回到了已加入的网页（共%1页）").arg(papers));
    }

    void addAllStopsWhenAskedAndDoesNotTakeThePageWaitedFor()
    {
        QVERIFY(load(pageUrl("page1.html")));
        m_window->addAllWalk()->setWaitLimits(30000, 60000); // the settle wait holds the walk on page 2
        QPushButton *addAll = button("AddAllButton");
        QSignalSpy finished(m_window->addAllWalk(), &AddAllWalk::finished);
        addAll->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_window->page()->url(), pageUrl("page2.html"), 20000);
        addAll->click();
        QVERIFY(finished.wait(5000));
        QCOMPARE(addAll->text(), QStringLiteral("加入全部到列表"));
        QCOMPARE(m_window->candidates()->count(), 2);
    }

    void aNextPageThatNeverLoadsEndsTheWalk()
    {
        // A server that takes the request and never answers.
        QTcpServer server;
        QList<QTcpSocket *> held;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *s = server.nextPendingConnection())
                held << s;
        });
        write("stall.html", resultPage(paper("paper/8", "Eighth"),
                                       "<a href='http://127.0.0.1:" +
                                           QByteArray::number(server.serverPort()) + "/never'>&gt;</a>"));
        QVERIFY(load(pageUrl("stall.html")));
        ManualClock clock;
        ClockSeam::install(&clock);
        QSignalSpy finished(m_window->addAllWalk(), &AddAllWalk::finished);
        button("AddAllButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(m_window->page()->isLoading(), 20000);
        QVERIFY(m_window->addAllWalk()->PageLoading());
        clock.advanceMs(29000);
        QVERIFY(!finished.wait(500));
        clock.advanceMs(2000);
        QVERIFY(finished.wait(5000));
        QCOMPARE(button("AddAllButton")->text(), QStringLiteral("加入全部到列表"));
        QCOMPARE(m_window->candidates()->count(), 1);
        m_window->page()->triggerAction(QWebEnginePage::Stop);
    }

    void newWindowRequestLoadsInTheSameBrowser()
    {
        QVERIFY(load(pageUrl("blank_target.html")));
        const int windowsBefore = QApplication::topLevelWidgets().size();
        m_window->page()->runJavaScript("document.getElementById('go').click()");
        QTRY_COMPARE_WITH_TIMEOUT(m_window->page()->url(), pageUrl("page3.html"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->page()->isLoading(), 20000);
        QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
        m_window->addThisPage();
        QTRY_COMPARE_WITH_TIMEOUT(label1(), QStringLiteral("1"), 20000);
        QCOMPARE(m_window->candidates()->row(0).title, QStringLiteral("Fourth"));
    }

    void handOverUnderBothPromptSettingsAndNamingRules()
    {
        // Asked when taking rows: the analysis goes on without asking again, names from the links.
        QVERIFY(load(pageUrl("page1.html")));
        TestOptions::edit().PromptSavePathOnExtract = true;
        m_host.chooserUsesLinkNames = true;
        m_window->addThisPage();
        QTRY_COMPARE_WITH_TIMEOUT(label1(), QStringLiteral("2"), 20000);
        QSignalSpy finished(m_window->analysis(), &CandidateAnalysis::finished);
        button("AnalyseButton")->click(); // nothing selected: everything
        QVERIFY(!button("AnalyseButton")->isEnabled());
        QVERIFY(finished.wait(5000));
        QVERIFY(button("AnalyseButton")->isEnabled());
        QCOMPARE(m_host.chooserRuns, 1);
        QCOMPARE(m_window->statusPanelText(3), QStringLiteral("本次分析成功：2条"));
        QVERIFY(m_window->findChild<QWidget *>("PicPanPrograss")->isHidden());
        DownloadListModel *downloads = m_host.downloads->model();
        QCOMPARE(downloads->count(), 2);
        QCOMPARE(downloads->row(1).name, QStringLiteral("2"));
        QCOMPARE(downloads->row(1).folder, QStringLiteral("/chosen/"));
        QCOMPARE(downloads->row(1).tag, pageUrl("page1.html").toString());
        QCOMPARE(m_host.downloadShown, 1);

        // Asked at analysis: a cancel changes nothing; a confirmation fills empty folders, names from titles.
        QVERIFY(load(pageUrl("page2.html")));
        TestOptions::edit().PromptSavePathOnExtract = false;
        TestOptions::edit().DefaultSaveFolder.clear();
        m_window->addThisPage();
        QTRY_COMPARE_WITH_TIMEOUT(label1(), QStringLiteral("3"), 20000);
        m_host.chooserConfirms = false;
        m_window->startAnalysis(AnalysisCommand::Unanalysed);
        QVERIFY(finished.wait(5000));
        QCOMPARE(m_window->candidates()->row(2).status, QString());
        QCOMPARE(m_window->statusPanelText(3), QStringLiteral("本次分析成功：0条"));
        QCOMPARE(m_host.downloadShown, 2);

        m_host.chooserConfirms = true;
        m_host.chooserUsesLinkNames = false;
        m_host.chooserFolder = QStringLiteral("/later/");
        m_window->startAnalysis(AnalysisCommand::Unanalysed);
        QVERIFY(finished.wait(5000));
        QCOMPARE(m_window->candidates()->row(2).status, QStringLiteral("成功"));
        QCOMPARE(downloads->count(), 3);
        QCOMPARE(downloads->row(2).name, QStringLiteral("Third"));
        QCOMPARE(downloads->row(2).folder, QStringLiteral("/later/"));
        QCOMPARE(downloads->row(0).folder, QStringLiteral("/chosen/"));
    }

    void handingOverAgainCountsTheListedRowsAndMovesOnlyUnfinishedOnes()
    {
        fillList(4);
        m_host.chooserFolder = QStringLiteral("/first/");
        QSignalSpy finished(m_window->analysis(), &CandidateAnalysis::finished);
        m_window->startAnalysis(AnalysisCommand::All);
        QVERIFY(finished.wait(5000));
        DownloadListModel *downloads = m_host.downloads->model();
        QCOMPARE(downloads->count(), 4);
        // One row finished, one failed, one under way, one still waiting.
        TestRows::of(*downloads).setState(downloads->idAt(0), RowState::Done);
        TestRows::of(*downloads).setState(downloads->idAt(1), RowState::Failed);
        TestRows::of(*downloads).setState(downloads->idAt(2), RowState::Downloading);
        fillList(6); // rows 0-3 again, and two new ones

        // Declined: the list says how many were there already and how many are new; nothing moves.
        m_host.chooserFolder = QStringLiteral("/second/");
        m_messages->answers = {MessageAnswer::No};
        m_window->startAnalysis(AnalysisCommand::All);
        QVERIFY(finished.wait(5000));
        QCOMPARE(m_messages->messages.size(), 1);
        QVERIFY(m_messages->messages.at(0).text.contains(
            QStringLiteral("4 篇已在下载列表中，其中 2 篇尚未完成")));
        QCOMPARE(m_window->statusPanelText(3), QStringLiteral("本次分析成功：2条，4 篇已在下载列表中"));
        QCOMPARE(downloads->count(), 6);
        QCOMPARE(downloads->row(4).folder, QStringLiteral("/second/"));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(downloads->row(i).folder, QStringLiteral("/first/"));

        // Accepted: the failed and the waiting row move (and start afresh there); the finished row and
        // the one under way stay. Nothing new: only the count of the listed ones.
        m_host.chooserFolder = QStringLiteral("/third/");
        m_messages->clear();
        m_messages->answers = {MessageAnswer::Yes};
        m_window->startAnalysis(AnalysisCommand::All);
        QVERIFY(finished.wait(5000));
        QCOMPARE(m_messages->messages.size(), 1);
        QCOMPARE(m_window->statusPanelText(3), QStringLiteral("6 篇已在下载列表中，已移动 4 篇"));
        QCOMPARE(downloads->count(), 6);
        const QStringList expected{"/first/", "/third/", "/first/", "/third/", "/third/", "/third/"};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(downloads->row(i).folder, expected.at(i));
            QCOMPARE(downloads->row(i).givenFolder, expected.at(i));
        }

        // Everything already in the chosen folder: nothing to ask.
        m_messages->clear();
        m_window->startAnalysis(AnalysisCommand::All);
        QVERIFY(finished.wait(5000));
        QVERIFY(m_messages->messages.isEmpty());
        QCOMPARE(m_window->statusPanelText(3), QStringLiteral("6 篇已在下载列表中"));
    }

    void analyseButtonWithAnEmptyList()
    {
        button("AnalyseButton")->click();
        QVERIFY(m_messages->saw("列表没有数据哦！"));
        QVERIFY(button("AnalyseButton")->isEnabled());
        QCOMPARE(m_host.downloadShown, 0);
    }

    void removalCommands()
    {
        CandidateListModel *list = m_window->candidates();
        QStringList prompts;
        QString answer;
        SearchDialogSeam::setInputBox(
            [&](QWidget *, const QString &prompt, const QString &title) -> std::optional<QString> {
                prompts << prompt + u'|' + title;
                return answer;
            });
        // On an empty list the text is asked for first, then nothing happens.
        answer = "x";
        findAction(m_window, "清除标题含指定字符项")->trigger();
        QCOMPARE(prompts, (QStringList{"请输入指定字符：|"}));

        list->加入LV1("Using pdf files", "a", "", "pdf", "");
        list->加入LV1("Paper", "b", "", "pdf", "");
        list->加入LV1("Other", "c", "", "pdf", "");
        list->加入LV1("More", "d", "", "pdf", "");
        answer = "";
        findAction(m_window, "清除标题不含指定字符项")->trigger();
        QCOMPARE(list->count(), 4);
        answer = "PDF";
        findAction(m_window, "清除标题含指定字符项")->trigger();
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->row(0).title, QStringLiteral("Paper"));
        QCOMPARE(label1(), QStringLiteral("3"));

        QTreeView *view = m_window->candidateView();
        view->selectionModel()->select(list->index(1, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->select(list->index(2, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        findAction(m_window, "清除选中项")->trigger();
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->row(0).title, QStringLiteral("Paper"));

        // Refused while an analysis runs.
        m_window->startAnalysis(AnalysisCommand::All);
        findAction(m_window, "清除分析成功项")->trigger();
        findAction(m_window, "清空全部")->trigger();
        QCOMPARE(m_messages->texts().count("正在分析，不能清除！"), 2);
        QSignalSpy finished(m_window->analysis(), &CandidateAnalysis::finished);
        QVERIFY(finished.wait(5000));

        m_messages->answers = {MessageAnswer::No};
        findAction(m_window, "清空全部")->trigger();
        QVERIFY(m_messages->saw("您确定要清空辛辛苦苦搜索的列表数据吗？"));
        QCOMPARE(list->count(), 1);
        findAction(m_window, "清除分析成功项")->trigger();
        QCOMPARE(list->count(), 0);
        QCOMPARE(label1(), QStringLiteral("0"));
    }

    void exportWritesTheFileAndOffersTheLastName()
    {
        QStringList offered;
        QString chosen;
        SearchDialogSeam::setSaveFileDialog([&](QWidget *, const QString &proposed) {
            offered << proposed;
            return chosen;
        });
        button("ExportButton")->click();
        QVERIFY(offered.isEmpty()); // empty list: no dialog

        fillList(3);
        m_window->candidates()->setStatus(0, "成功");
        button("ExportButton")->click(); // cancelled
        QVERIFY(m_messages->messages.isEmpty());
        chosen = m_dir.path() + "/export.txt";
        button("ExportButton")->click();
        QCOMPARE(fntest::readFile(chosen),
                 QByteArray("Row 0-\xa1\xbepdf\xa1\xbf\xb3\xc9\xb9\xa6\r\nRow 1-\xa1\xbepdf\xa1\xbf\r\n"
                            "Row 2-\xa1\xbepdf\xa1\xbf\r\n"));
        QCOMPARE(m_messages->texts(), (QStringList{"保存文件完毕：0.0KB"})); // 42 bytes
        chosen = m_dir.path() + "/no/such/folder/export.txt";
        button("ExportButton")->click();
        QCOMPARE(offered, (QStringList{"", "", m_dir.path() + "/export.txt"}));
        QCOMPARE(m_messages->messages.size(), 1); // a failed write says nothing
    }

    void importTakesEveryGoodLineAndNamesTheBadOnes()
    {
        fillList(1);
        const QString list = m_dir.path() + QStringLiteral("/links.txt");
        fntest::writeFile(list, "http://site/p/0.pdf\n" // listed already
                                "Deep learning\thttp://site/paper/7.pdf\n"
                                "ftp://site/paper/8.pdf\n" // line 3: not a web address
                                "\n# a comment\n"
                                "http://site/paper/9\n"            // titled after its file
                                "Twice\thttp://site/paper/7.pdf\n" // line 7: the same address again
                                "T\thttp://site/paper/10.pdf\thttp://site/results?page=2\n");
        QList<filedialogs::Request> asked;
        filedialogs::setFunction([&](QWidget *, const filedialogs::Request &request) {
            asked.append(request);
            return list;
        });
        TestOptions::edit().DefaultSaveFolder = QStringLiteral("/papers/");
        const int looks = diskLooksOnMainThread();
        findAction(m_window, "从文本文件导入链接…")->trigger();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().kind, filedialogs::Request::Kind::Open);
        CandidateListModel *c = m_window->candidates();
        // The file is read on a worker: the links come with the answer.
        QTRY_COMPARE(c->count(), 4);
        QCOMPARE(diskLooksOnMainThread(), looks);
        QCOMPARE(label1(), QStringLiteral("4"));
        QCOMPARE(c->row(1).title, QStringLiteral("Deep learning"));
        QCOMPARE(c->row(1).key, QStringLiteral("http://site/paper/7.pdf"));
        QCOMPARE(c->row(1).type, QStringLiteral("pdf"));
        QCOMPARE(c->row(1).folder, QStringLiteral("/papers/"));
        QCOMPARE(c->row(2).title, QStringLiteral("9"));
        QCOMPARE(c->row(3).tag, QStringLiteral("http://site/results?page=2"));
        QCOMPARE(m_messages->messages.size(), 1);
        QCOMPARE(m_messages->messages.first().icon, MessageIcon::Information);
        const QString report = m_messages->texts().first();
        QVERIFY2(report.startsWith(QStringLiteral("已导入 3 条链接。另有 1 条已在列表中。")),
                 qPrintable(report));
        QVERIFY2(report.contains(QStringLiteral("第 3 行：不是 http 或 https 地址：ftp://site/paper/8.pdf")),
                 qPrintable(report));
        QVERIFY2(report.contains(QStringLiteral("第 7 行：")), qPrintable(report));
        QVERIFY(!report.contains(QStringLiteral("第 4 行")) && !report.contains(QStringLiteral("第 5 行")));

        // A file that cannot be read adds nothing and says why; a cancelled dialog says nothing.
        filedialogs::setFunction(
            [&](QWidget *, const filedialogs::Request &) { return list + QStringLiteral(".gone"); });
        findAction(m_window, "从文本文件导入链接…")->trigger();
        QTRY_COMPARE(m_messages->messages.size(), 2);
        QCOMPARE(c->count(), 4);
        QCOMPARE(m_messages->messages.last().icon, MessageIcon::Critical);
        QVERIFY(m_messages->texts().last().contains(QStringLiteral("links.txt.gone")));
        filedialogs::setFunction([&](QWidget *, const filedialogs::Request &) { return QString(); });
        findAction(m_window, "从文本文件导入链接…")->trigger();
        QTest::qWait(50);
        QCOMPARE(m_messages->messages.size(), 2);
    }

    void openGivenAddressTakesTheTypedText()
    {
        QString answer = "   ";
        QStringList asked;
        SearchDialogSeam::setInputBox(
            [&](QWidget *, const QString &prompt, const QString &title) -> std::optional<QString> {
                asked << prompt + u'|' + title;
                return answer;
            });
        findAction(m_window, "打开指定网址...")->trigger();
        QCOMPARE(asked, (QStringList{"请输入需要打开的网址：|请输入..."}));
        QTest::qWait(200);
        QCOMPARE(m_window->page()->url(), pageUrl("index.html"));
        answer = "  " + pageUrl("page3.html").toString() + " ";
        findAction(m_window, "打开指定网址...")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_window->page()->url(), pageUrl("page3.html"), 20000);
        // The page's own address is shown above it, not for retyping.
        auto *address = m_window->findChild<QLineEdit *>(QStringLiteral("PageAddress"));
        QCOMPARE(address->text(), pageUrl("page3.html").toDisplayString());
        QVERIFY(address->isReadOnly());
        findAction(m_window, "后退")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_window->page()->url(), pageUrl("index.html"), 20000);
        // A script is no address to open: the user is told why, and the page stays.
        answer = "javascript:alert(1)";
        findAction(m_window, "打开指定网址...")->trigger();
        QCOMPARE(m_messages->texts().last(),
                 QStringLiteral("不能打开“javascript:”网址：只能打开 http、https 网址或本机文件"));
        QCOMPARE(m_window->page()->url(), pageUrl("index.html"));
    }

    void layoutKeepsItsLimitsAndFollowsTheBar()
    {
        m_window->resize(300, 200);
        QTRY_VERIFY(m_window->width() >= 600 && m_window->height() >= 333);
        m_window->resize(900, 700);
        QTRY_COMPARE(m_window->size(), QSize(900, 700));
        auto *bar = m_window->findChild<QWidget *>("PicBar");
        auto *web = m_window->findChild<QWidget *>("PicPanWeb");
        auto *listPanel = m_window->findChild<QWidget *>("PicPanList");
        auto *progress = m_window->findChild<QWidget *>("PicPanPrograss");
        QCOMPARE(web->height(), bar->y());
        QCOMPARE(progress->x(), (listPanel->width() - progress->width()) / 2);
        const QRect webBefore = web->geometry();
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(10, 2));
        QMouseEvent move(QEvent::MouseMove, QPointF(10, -40), bar->mapToGlobal(QPointF(10, -40)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
        QCOMPARE(web->geometry(), webBefore);
        QCOMPARE(bar->y(), webBefore.height() - 40);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(10, 2));
        QCOMPARE(web->height(), webBefore.height() - 40);
        QCOMPARE(listPanel->y(), bar->y() + bar->height());
        QCOMPARE(progress->x(), (listPanel->width() - progress->width()) / 2);

        // A bar dragged too low jumps to four fifths of the window's height where the list keeps its
        // five rows below it, and only so far down as the list keeps them where it would not.
        auto dragFarDown = [&] {
            QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(10, 2));
            QMouseEvent down(QEvent::MouseMove, QPointF(10, 2000), bar->mapToGlobal(QPointF(10, 2000)),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(bar, &down);
            QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(10, 2));
        };
        QTreeView *list = m_window->candidateView();
        const int rowHeight = list->sizeHintForRow(0) > 0 ? list->sizeHintForRow(0) : 0;
        fillList(1);
        m_window->resize(900, 1500);
        QTRY_COMPARE(m_window->height(), 1500);
        dragFarDown();
        QCOMPARE(bar->y(), 1500 * 4 / 5);
        m_window->resize(900, 700);
        QTRY_COMPARE(m_window->height(), 700);
        dragFarDown();
        QVERIFY(bar->y() < 700 * 4 / 5);
        QVERIFY(list->viewport()->height() >= 5 * std::max(rowHeight, list->sizeHintForRow(0)));
        QCOMPARE(listPanel->y(), bar->y() + bar->height());
    }

    void closingShowsTheStartupWindowOnlyWithoutTheDownloadWindow()
    {
        m_window->close();
        QTRY_VERIFY(m_window.isNull());
        QCOMPARE(m_host.startupShown, 1);

        m_window = new fWebSearch(&m_host, pageUrl("index.html"), fntest::runObjects());
        m_window->show();
        m_host.loadDownloadWindow();
        findAction(m_window, "关闭本窗口")->trigger();
        QTRY_VERIFY(m_window.isNull());
        QCOMPARE(m_host.startupShown, 1);
        QVERIFY(m_messages->messages.isEmpty()); // an empty list goes without a question
    }

    // A list that is not empty goes only when the user says so, as with 清空全部.
    void closingAskBeforeTheCandidateListIsLost()
    {
        const QString question = QStringLiteral("关闭窗口将清空辛辛苦苦搜索的列表数据，您确定要关闭吗？");
        fillList(3);
        m_messages->answers = {MessageAnswer::No};
        findAction(m_window, "关闭本窗口")->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!m_window.isNull());
        QVERIFY(m_window->isVisible());
        QCOMPARE(m_window->candidateView()->model()->rowCount(), 3);
        QCOMPARE(m_messages->texts(), QStringList{question});

        m_window->close(); // answered Yes
        QTRY_VERIFY(m_window.isNull());
        QCOMPARE(m_messages->texts(), QStringList(2, question));
    }
};

FN_TEST_MAIN_GUI(TestSearchWindow)
#include "tst_searchwindow.moc"

#include "ui/fwebsearch.h"

#include "browser/browserprofile.h"
#include "browser/webengineresultpage.h"
#include "core/common/filenames.h"
#include "core/common/messenger.h"
#include "core/common/receiverpost.h"
#include "core/queue/downloadqueue.h"
#include "core/search/addallwalk.h"
#include "core/search/candidateexport.h"
#include "core/search/candidatelistmodel.h"
#include "core/search/givenaddress.h"
#include "core/search/linkimporting.h"
#include "core/search/pagecheck.h"
#include "core/search/pageyield.h"
#include "core/search/resultpage.h"
#include "core/search/searchlayout.h"
#include "core/search/seenrecorder.h"
#include "core/settings/sharedoptions.h"
#include "core/sites/sitepoliteness.h"
#include "core/sites/siterules.h"
#include "desktop/filedialogs.h"
#include "desktop/screenfit.h"
#include "desktop/shellhelpers.h"
#include "ui/nothingtakentext.h"
#include "ui/pageaddressline.h"
#include "ui/searchdialogs.h"
#include "ui/searchwindowhost.h"
#include "ui/splitterbar.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QWebEngineView>

namespace {
const QString kAddAllIdle = QStringLiteral("加入全部到列表");
const QString kAddAllRunning = QStringLiteral("停止加入全部");
const QString kBusyAnalysing = QStringLiteral("正在分析，不能清除！");

// The maker's pages and mail.
const QString kMakerSite = QStringLiteral("https://www.folionexus.example/");
const QString kLatestVersion = QStringLiteral("https://www.folionexus.example/download/");
const QString kCustomSoftware = QStringLiteral("https://www.folionexus.example/custom/");
const QString kSuggestionMail =
    QStringLiteral("mailto:support@folionexus.example?subject=%E8%BD%AF%E4%BB%B6%E5%BB%BA%E8%AE%AE"
                   "&body=%E8%BD%AF%E4%BB%B6%E7%89%88%E6%9C%AC%EF%BC%9A%0D%0A%E5%BB%BA%E8%AE%AE%E5%86%85%E5%"
                   "AE%B9%EF%BC%9A%0D%0A");

// Places of the controls inside the list panel, in pixels.
constexpr int kListLeft = 4;
constexpr int kListTop = 34;
constexpr int kBarHeightTwips = 75;
// The candidate list always has room for this many rows.
constexpr int kListMinRows = 5;
constexpr int kRowBand = 13;
// The bar's first place, in hundredths of the window's height: the rest is the list's.
constexpr int kFirstBarShare = 60;
// A column that gives way keeps at least this many pixels.
constexpr int kLeastColumnWidth = 60;

int buttonWidthFor(const QPushButton *button, const QString &text)
{
    const QStyle *style = button->style();
    return button->fontMetrics().horizontalAdvance(text) +
           2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
           2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button) + 8;
}

QTreeView *makeCandidateView(QWidget *parent, QAbstractItemModel *candidates)
{
    auto *view = new QTreeView(parent);
    view->setObjectName(QStringLiteral("ListView1"));
    view->setModel(candidates);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->move(kListLeft, kListTop);
    ApplyRowStripes(view, kRowBand);
    return view;
}

// The panel shown over the list while the papers are analysed, hidden until then.
struct ProgressPanel
{
    QFrame *frame;
    QLabel *text;
    QPushButton *stop;
};

ProgressPanel makeProgressPanel(QWidget *parent)
{
    auto *frame = new QFrame(parent);
    frame->setObjectName(QStringLiteral("PicPanPrograss"));
    frame->setFrameShape(QFrame::Box);
    frame->setAutoFillBackground(true);
    frame->resize(420, 64);
    auto *text = new QLabel(QStringLiteral("正在分析，请稍候..."), frame);
    text->setObjectName(QStringLiteral("Label11"));
    text->setGeometry(8, 6, 404, 24);
    auto *stop = new QPushButton(QStringLiteral("停止"), frame);
    stop->setObjectName(QStringLiteral("StopButton"));
    stop->setGeometry(170, 34, 80, 24);
    frame->hide();
    return {frame, text, stop};
}

// Three panels; the middle one takes the room the others leave.
void addStatusPanels(QStatusBar *bar, QLabel *(&panels)[3])
{
    bar->setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < 3; ++i) {
        panels[i] = new QLabel(bar);
        bar->addWidget(panels[i], i == 1 ? 1 : 0);
    }
    panels[2]->setMinimumWidth(160);
}

void tellRejectedSelectors(const QString &file, const QStringList &fields)
{
    if (!fields.isEmpty())
        showMessage(MessageIcon::Critical, rejectedSelectorsText(file, fields));
}

void tellNothingTaken(const PageSnapshot &page, const PageYield &yield, const SiteRulesCatalog &rules,
                      bool walk)
{
    const NothingTakenMessage message = nothingTakenMessage(page, yield, rules.refused(), walk);
    showMessage(message.icon, message.text);
}

void showAddAllIdle(QPushButton *button)
{
    button->setStyleSheet(QString());
    button->setText(kAddAllIdle);
}

// The queue asks each site no harder than the rules the pages are read by let it.
void keepPoliteness(DownloadQueue &queue, const SiteRulesCatalog &rules)
{
    const SitePoliteness sites(rules);
    queue.changeOptions([&sites](SchedulerOptions &schedule) { schedule.sites = sites; });
}

// Loads the download window if needed and hands the candidate to its queue.
bool handOverPolitely(SearchWindowHost *host, const SiteRulesCatalog &rules,
                      const CandidateListModel &candidates, int position, const HandOverOptions &options,
                      HandOverTally *tally)
{
    DownloadQueue *queue = host->loadDownloadWindow();
    if (!queue)
        return false;
    keepPoliteness(*queue, rules);
    return queue->enqueue(candidates, position, options, tally);
}

// What the analysis asks of the window and the program: the save folder, the hand-over to the download
// window's queue (polite to each site), the selection and the options in force.
AnalysisHooks analysisHooks(fWebSearch *window, SearchWindowHost *host, const RunObjects &run)
{
    OptionStore &options = run.options;
    return AnalysisHooks{[window, host] { return host->runSaveLocationChooser(window); },
                         [host, &rules = run.siteRules](const CandidateListModel &candidates, int position,
                                                        const HandOverOptions &handOver,
                                                        HandOverTally *tally) {
                             return handOverPolitely(host, rules, candidates, position, handOver, tally);
                         },
                         [host] { host->showDownloadWindow(); },
                         [window](int position) {
                             return window->candidateView()->selectionModel()->isRowSelected(position, {});
                         },
                         [&options] { return handOverOptionsOf(options.options()); },
                         [&options] { return options.options().PromptSavePathOnExtract; }};
}

} // namespace

fWebSearch::fWebSearch(SearchWindowHost *host, const QUrl &homePage, const RunObjects &run, QWidget *parent)
    : QMainWindow(parent), m_host(host), m_run(run), m_homePage(homePage)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("fWebSearch"));
    setWindowTitle(QStringLiteral("Folionexus数据检索分析-墨枢软件"));

    setMinimumSize(searchlayout::toPixels(searchlayout::MinWidth),
                   searchlayout::toPixels(searchlayout::MinHeight));

    m_candidates = new CandidateListModel(this);
    if (PaperLibrary *library = m_run.library)
        m_seenRecorder = new SeenRecorder(library, m_candidates, this);
    buildControls();
    m_analysis = new CandidateAnalysis(m_candidates, analysisHooks(this, m_host, m_run), this);
    connect(m_analysis, &CandidateAnalysis::started, this, &fWebSearch::onAnalysisStarted);
    connect(m_analysis, &CandidateAnalysis::progressTextChanged, this, [this](const QString &text) {
        Label11->setText(text);
        Label11->repaint();
    });
    connect(m_analysis, &CandidateAnalysis::finished, this,
            [this](int, const QString &resultText) { onAnalysisFinished(resultText); });
    buildMenus();

    m_run.options.loadPromptSavePath();
    connectBrowser();
    m_page->load(QUrl(QStringLiteral("about:blank")));
    // The home page is opened once the window has had a turn of the event loop to show itself.
    QTimer::singleShot(0, this, [this] { m_page->load(m_homePage); });
    resize(900, 640);
    KeepWithinScreen(this);
}

fWebSearch::~fWebSearch()
{
    // The walk reads the page through the reader; both go before the page does.
    delete m_walk;
    m_walk = nullptr;
}

void fWebSearch::buildControls()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);
    // The menu and status bars settle their heights after the window's own resize; lay out again then.
    central->installEventFilter(this);

    PicPanWeb = new QWidget(central);
    PicPanWeb->setObjectName(QStringLiteral("PicPanWeb"));
    WebBrowser1 = new QWebEngineView(PicPanWeb);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    m_address = new PageAddressLine(PicPanWeb);

    PicBar = new SplitterBar(central);
    PicBar->setObjectName(QStringLiteral("PicBar"));
    connect(PicBar, &SplitterBar::dragged, this, &fWebSearch::onBarDragged);
    connect(PicBar, &SplitterBar::released, this, &fWebSearch::layoutWindow);

    PicPanList = new QWidget(central);
    PicPanList->setObjectName(QStringLiteral("PicPanList"));
    buildListButtons();
    ListView1 = makeCandidateView(PicPanList, m_candidates);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { m_menuClear->popup(ListView1->viewport()->mapToGlobal(pos)); });
    connect(m_candidates, &QAbstractItemModel::rowsInserted, this, &fWebSearch::refreshCount);
    const ProgressPanel progress = makeProgressPanel(PicPanList);
    PicPanPrograss = progress.frame;
    Label11 = progress.text;
    m_stopButton = progress.stop;
    connect(m_stopButton, &QPushButton::clicked, this, [this] { m_analysis->stop(); });
    addStatusPanels(statusBar(), m_statusPanels);
}

// The row of commands above the list, and the count of papers in it.
void fWebSearch::buildListButtons()
{
    int x = kListLeft;
    // Each control is as wide as its design width, or wider when its text needs more.
    auto addButton = [&](const QStringList &texts, const char *name, int width) {
        auto *button = new QPushButton(texts.first(), PicPanList);
        button->setObjectName(QLatin1String(name));
        for (const QString &text : texts)
            width = std::max(width, buttonWidthFor(button, text));
        button->setGeometry(x, 4, width, 26);
        x += width + 6;
        return button;
    };
    m_addPageButton = addButton({QStringLiteral("加入本页到列表")}, "AddPageButton", 120);
    m_addAllButton = addButton({kAddAllIdle, kAddAllRunning}, "AddAllButton", 120);
    m_analyseButton = addButton({QStringLiteral("分析下载")}, "AnalyseButton", 90);
    m_exportButton = addButton({QStringLiteral("导出数据...")}, "ExportButton", 90);
    auto *caption = new QLabel(QStringLiteral("待下载列表："), PicPanList);
    caption->setObjectName(QStringLiteral("CountCaption"));
    caption->setGeometry(x + 10, 4, caption->sizeHint().width(), 26);
    Label1 = new QLabel(QStringLiteral("0"), PicPanList);
    Label1->setObjectName(QStringLiteral("Label1"));
    // Room for a count of six digits.
    Label1->setGeometry(
        caption->geometry().right() + 3, 4,
        Label1->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 2 * Label1->margin() + 2, 26);
    connect(m_addPageButton, &QPushButton::clicked, this, &fWebSearch::addThisPage);
    connect(m_addAllButton, &QPushButton::clicked, this, &fWebSearch::toggleAddAll);
    connect(m_analyseButton, &QPushButton::clicked, this, &fWebSearch::analyseAndDownload);
    connect(m_exportButton, &QPushButton::clicked, this, &fWebSearch::exportList);
}

namespace {

void addToolsMenu(fWebSearch *window, SearchWindowHost *host)
{
    QMenu *tools = window->menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->addAction(QStringLiteral("设置"), window, [window, host] { host->showOptions(window); });
    tools->addAction(QStringLiteral("打开下载窗口"), window, [host] { host->showDownloadWindow(); });
    tools->addSeparator();
    tools->addAction(QStringLiteral("查看IE浏览器缓存"), window,
                     [window, host] { host->showCacheViewer(window); });
    tools->addAction(QStringLiteral("清空IE浏览器缓存"), window, [host] { host->clearBrowserCache(); });
    tools->addSeparator();
    tools->addAction(QStringLiteral("文献库"), window, [window, host] { host->showLibraryWindow(window); });
    tools->addSeparator();
    tools->addAction(QStringLiteral("站点规则…"), window, &fWebSearch::showSiteRules);
    tools->addAction(QStringLiteral("检查本页"), window, &fWebSearch::checkThisPage);
}

void addHelpMenu(fWebSearch *window, SearchWindowHost *host)
{
    QMenu *help = window->menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(QStringLiteral("关于(&A)"), window, [window, host] { host->showAbout(window); });
    help->addSeparator();
    help->addAction(QStringLiteral("作者网站－墨枢软件"), window, [] { OpenWebPage(kMakerSite, true); });
    help->addAction(QStringLiteral("最新版本"), window, [] { OpenWebPage(kLatestVersion, true); });
    help->addAction(QStringLiteral("软件定制"), window, [] { OpenWebPage(kCustomSoftware, true); });
    help->addAction(QStringLiteral("给软件作者建议"), window,
                    [] { shellServices().openUrl(QUrl(kSuggestionMail, QUrl::StrictMode)); });
}

} // namespace

void fWebSearch::buildMenus()
{
    // "加入" is kept out of the menu bar: it is the popup of the button "分析下载".
    m_menuJoin = new QMenu(QStringLiteral("加入"), this);
    const std::pair<const char *, AnalysisCommand> joins[] = {{"分析未分析项", AnalysisCommand::Unanalysed},
                                                              {"分析失败项", AnalysisCommand::Failed},
                                                              {"分析选中项", AnalysisCommand::Selected},
                                                              {"分析全部", AnalysisCommand::All}};
    for (const auto &[text, command] : joins)
        m_menuJoin->addAction(QString::fromUtf8(text), this, [this, c = command] { startAnalysis(c); });

    QMenu *browse = menuBar()->addMenu(QStringLiteral("浏览(&B)"));
    browse->addAction(QStringLiteral("打开Folionexus首页"), this, [this] { m_page->load(m_homePage); });
    browse->addAction(QStringLiteral("打开指定网址..."), this, &fWebSearch::openGivenAddress);
    browse->addAction(QStringLiteral("从文本文件导入链接…"), this, &fWebSearch::importLinks);
    browse->addSeparator();
    browse->addAction(QStringLiteral("后退"), this, [this] { m_page->triggerAction(QWebEnginePage::Back); });
    browse->addAction(QStringLiteral("前进"), this,
                      [this] { m_page->triggerAction(QWebEnginePage::Forward); });
    browse->addSeparator();
    browse->addAction(QStringLiteral("关闭本窗口"), this, &QWidget::close);

    m_menuClear = menuBar()->addMenu(QStringLiteral("清除(&C)"));
    m_menuClear->addAction(QStringLiteral("清除选中项"), this, [this] { removeRows(RemovalRule::Selected); });
    m_menuClear->addAction(QStringLiteral("清除分析成功项"), this,
                           [this] { removeRows(RemovalRule::Succeeded); });
    m_menuClear->addAction(QStringLiteral("清除标题含指定字符项"), this,
                           [this] { removeRows(RemovalRule::TitleContains); });
    m_menuClear->addAction(QStringLiteral("清除标题不含指定字符项"), this,
                           [this] { removeRows(RemovalRule::TitleLacks); });
    m_menuClear->addAction(QStringLiteral("清空全部"), this, &fWebSearch::clearAll);

    addToolsMenu(this, m_host);
    addHelpMenu(this, m_host);
}

void fWebSearch::connectBrowser()
{
    m_page = new SilentWebPage(programProfile(), WebBrowser1);
    m_address->follow(m_page);
    WebBrowser1->setPage(m_page);
    // A page's request to close the window is refused: windowCloseRequested is left unanswered.
    connect(m_page, &QWebEnginePage::linkHovered, this,
            [this](const QString &text) { m_statusPanels[1]->setText(text); });
    m_pageReader = std::make_unique<WebEngineResultPage>(m_page, m_run.siteRules);
    m_walk = new AddAllWalk(m_pageReader.get(), m_candidates, this);
    connect(m_page, &QWebEnginePage::loadFinished, m_walk, &AddAllWalk::documentComplete);
    connect(m_walk, &AddAllWalk::pageExtracted, this, &fWebSearch::refreshCount);
    connect(m_walk, &AddAllWalk::finished, this, &fWebSearch::onAddAllFinished);
}

QString fWebSearch::statusPanelText(int panel) const
{
    return (panel >= 1 && panel <= 3) ? m_statusPanels[panel - 1]->text() : QString();
}

void fWebSearch::refreshCount()
{
    Label1->setText(QString::number(m_candidates->count()));
}

void fWebSearch::autoSizeColumns()
{
    // Each column as wide as what it holds; where the list is too narrow for that, the title, the
    // folder and the authors give way, so that type, status and year show whole.
    QList<int> wanted;
    QList<int> weights(CandidateListModel::ColumnCount, 0);
    weights[CandidateListModel::ColTitle] = 3;
    weights[CandidateListModel::ColFolder] = 1;
    weights[CandidateListModel::ColAuthors] = 1;
    for (int c = 0; c < m_candidates->columnCount(); ++c) {
        ListView1->resizeColumnToContents(c);
        wanted.append(ListView1->columnWidth(c));
    }
    // The rows just taken may bring in the vertical scroll bar only later: its room is kept.
    int room = ListView1->viewport()->width();
    if (!ListView1->verticalScrollBar()->isVisible())
        room -= ListView1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ListView1);
    const QList<int> widths = searchlayout::fitColumns(wanted, weights, room, kLeastColumnWidth);
    for (int c = 0; c < widths.size(); ++c)
        ListView1->setColumnWidth(c, widths.at(c));
}

void fWebSearch::addThisPage()
{
    // The page is read first: the folder is asked only when there is something to take.
    m_pageReader->readPage(this, [this](const PageSnapshot &page) {
        const PageYield yield = MeasurePageYield(page, *m_candidates);
        if (yield.nothing != PageYield::Nothing::None) {
            tellNothingTaken(page, yield, m_pageReader->catalog(), false);
            return;
        }
        // Out of the browser's answer before the chooser's own event loop runs.
        QTimer::singleShot(0, this, [this, page] {
            if (m_run.options.options().PromptSavePathOnExtract)
                m_host->runSaveLocationChooser(this); // a cancelled chooser does not stop the extraction
            ExtractResultPage(page, *m_candidates, m_run.options.options().DefaultSaveFolder);
            refreshCount();
            autoSizeColumns();
        });
    });
}

void fWebSearch::keepSitePoliteness(DownloadQueue &queue) const
{
    keepPoliteness(queue, m_pageReader->catalog());
}

void fWebSearch::showSiteRules()
{
    // The user's folder is read again, so a file just written or mended counts at once.
    m_run.siteRules.loadUserFolder(SiteRulesCatalog::userFolder());
    QString text = rulesSourceText(m_pageReader->rules());
    text += QStringLiteral("用户规则文件夹：%1\n").arg(SiteRulesCatalog::userFolder());
    const QList<SiteRulesError> &refused = m_pageReader->catalog().refused();
    if (!refused.isEmpty()) {
        text += QStringLiteral("未采用的规则文件：\n");
        for (const SiteRulesError &error : refused)
            text += error.message() + u'\n';
    }
    showMessage(MessageIcon::Information, text);
}

void fWebSearch::checkThisPage()
{
    m_run.siteRules.loadUserFolder(SiteRulesCatalog::userFolder());
    m_pageReader->readPage(this, [](const PageSnapshot &page) {
        showMessage(MessageIcon::Information, pageCheckText(CheckResultPage(page)));
    });
}

void fWebSearch::toggleAddAll()
{
    if (m_addAllState == AddAllState::Walking) {
        m_walk->stop();
        autoSizeColumns();
        return;
    }
    if (m_addAllState == AddAllState::Checking) { // the look at the first page is dropped
        m_addAllState = AddAllState::Idle;
        showAddAllIdle(m_addAllButton);
        return;
    }
    m_addAllState = AddAllState::Checking;
    m_addAllButton->setText(kAddAllRunning);
    m_addAllButton->setStyleSheet(QStringLiteral("background-color: rgb(255, 0, 0);"));
    // The page on show is read first: the folder is asked only when the walk has something to take.
    const int ticket = ++m_addAllTicket;
    m_pageReader->readPage(this, [this, ticket](const PageSnapshot &page) {
        if (ticket != m_addAllTicket || m_addAllState != AddAllState::Checking)
            return;
        const PageYield yield = MeasurePageYield(page, *m_candidates);
        if (!yield.walkHasWork()) {
            m_addAllState = AddAllState::Idle;
            showAddAllIdle(m_addAllButton);
            tellNothingTaken(page, yield, m_pageReader->catalog(), true);
            return;
        }
        QTimer::singleShot(0, this, [this, ticket] { startAddAll(ticket); });
    });
}

void fWebSearch::startAddAll(int ticket)
{
    if (ticket != m_addAllTicket || m_addAllState != AddAllState::Checking)
        return;
    if (m_run.options.options().PromptSavePathOnExtract)
        m_host->runSaveLocationChooser(this); // Cancel does not stop the walk
    if (ticket != m_addAllTicket || m_addAllState != AddAllState::Checking)
        return;
    m_addAllState = AddAllState::Walking;
    m_walk->setSaveFolder(m_run.options.options().DefaultSaveFolder);
    m_walk->start();
}

namespace {
QString addAllEndText(AddAllWalk::End reason, int pages)
{
    switch (reason) {
    case AddAllWalk::End::LastPage:
        return QStringLiteral("加入全部完成：共%1页，已到最后一页").arg(pages);
    case AddAllWalk::End::Stopped:
        return QStringLiteral("加入全部已停止：共%1页").arg(pages);
    case AddAllWalk::End::LoadTimedOut:
        return QStringLiteral("加入全部结束：下一页没有按时打开（共%1页）").arg(pages);
    case AddAllWalk::End::Unreadable:
        return QStringLiteral("加入全部结束：无法读取当前网页（共%1页）").arg(pages);
    case AddAllWalk::End::Revisited:
        return QStringLiteral("加入全部结束：下一页链接回到了已加入的网页（共%1页）").arg(pages);
    case AddAllWalk::End::PageLimit:
        return QStringLiteral("加入全部结束：已达%1页上限").arg(pages);
    }
    return QString();
}
} // namespace

void fWebSearch::onAddAllFinished()
{
    // Why the walk ended shows in the first panel of the status bar.
    m_statusPanels[0]->setText(addAllEndText(m_walk->endReason(), m_walk->pagesTaken()));
    m_addAllState = AddAllState::Idle;
    showAddAllIdle(m_addAllButton);
    autoSizeColumns();
    tellRejectedSelectors(m_walk->rejectingFile(), m_walk->rejectedSelectors());
}

void fWebSearch::analyseAndDownload()
{
    m_analyseButton->setEnabled(false);
    if (m_candidates->count() == 0) {
        showMessage(MessageIcon::Information, QStringLiteral("列表没有数据哦！"));
    } else if (!ListView1->selectionModel()->hasSelection()) {
        startAnalysis(AnalysisCommand::All);
    } else {
        m_menuJoin->exec(QCursor::pos());
    }
    // A started analysis gives the button back when it ends.
    if (!m_analysis->isRunning())
        m_analyseButton->setEnabled(true);
}

void fWebSearch::startAnalysis(AnalysisCommand command)
{
    m_analyseButton->setEnabled(false);
    m_analysis->start(command);
}

void fWebSearch::onAnalysisStarted()
{
    PicPanPrograss->show();
    PicPanPrograss->raise();
}

void fWebSearch::onAnalysisFinished(const QString &resultText)
{
    PicPanPrograss->hide();
    m_analyseButton->setEnabled(true);
    const HandOverTally &tally = m_analysis->tally();
    if (tally.alreadyThere == 0) {
        m_statusPanels[2]->setText(resultText);
        return;
    }
    // Papers handed over again (to fetch them into another folder, say) are not listed twice: say so,
    // and offer to send the rows that have not finished to the folder chosen now.
    QString text =
        tally.added > 0 ? CandidateAnalysis::resultText(tally.added) + QStringLiteral("，") : QString();
    text += QStringLiteral("%1 篇已在下载列表中").arg(tally.alreadyThere);
    if (!tally.movable.isEmpty()) {
        const QString question =
            QStringLiteral("%1 篇已在下载列表中，其中 %2 篇尚未完成。\n要把这 %2 篇移到新选择的文件夹吗？"
                           "已完成的不会移动。")
                .arg(tally.alreadyThere)
                .arg(tally.movable.size());
        if (askYesNo(MessageIcon::Question, question)) {
            DownloadQueue *queue = m_host->loadDownloadWindow();
            const int moved = queue ? queue->moveToChosenFolders(tally.movable) : 0;
            text += QStringLiteral("，已移动 %1 篇").arg(moved);
        }
    }
    m_statusPanels[2]->setText(text);
}

void fWebSearch::removeRows(RemovalRule rule)
{
    if (!m_analysis->AnalysisStopped()) {
        showMessage(MessageIcon::Critical, kBusyAnalysing);
        return;
    }
    QString text;
    if (rule == RemovalRule::TitleContains || rule == RemovalRule::TitleLacks) {
        const std::optional<QString> answer =
            searchdialogs::inputBox(this, QStringLiteral("请输入指定字符："), QString());
        if (!answer || answer->isEmpty())
            return;
        text = *answer;
    }
    if (m_candidates->count() == 0)
        return;
    QSet<QString> selectedKeys;
    for (const QModelIndex &index : ListView1->selectionModel()->selectedRows())
        selectedKeys.insert(m_candidates->row(index.row()).key);
    ListView1->setUpdatesEnabled(false);
    RemoveCandidates(*m_candidates, rule, text, selectedKeys);
    ListView1->setUpdatesEnabled(true);
    refreshCount();
}

void fWebSearch::clearAll()
{
    if (!m_analysis->AnalysisStopped()) {
        showMessage(MessageIcon::Critical, kBusyAnalysing);
        return;
    }
    if (!askYesNo(MessageIcon::Question, QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？")))
        return;
    m_candidates->clear();
    refreshCount();
}

void fWebSearch::exportList()
{
    if (m_candidates->count() == 0)
        return;
    const QString path = searchdialogs::saveFileDialog(this, m_lastExportPath);
    if (path.isEmpty())
        return;
    m_lastExportPath = path;
    const qint64 size = writeCandidateExport(*m_candidates, path);
    if (size < 0)
        return;
    showMessage(MessageIcon::Information, exportSavedMessage(size));
}

void fWebSearch::openGivenAddress()
{
    const std::optional<QString> answer =
        searchdialogs::inputBox(this, QStringLiteral("请输入需要打开的网址："), QStringLiteral("请输入..."));
    if (!answer)
        return;
    // An address that is refused says why; one without a scheme is a web address.
    const GivenAddress given = CheckGivenAddress(*answer);
    if (given.refusal == GivenAddress::Refusal::None)
        m_page->load(given.url);
    else if (given.refusal != GivenAddress::Refusal::Empty)
        showMessage(MessageIcon::Critical, givenAddressRefusalText(given, *answer));
}

void fWebSearch::importLinks()
{
    filedialogs::Request request;
    request.caption = QStringLiteral("从文本文件导入链接");
    request.startPath = QDir::homePath();
    request.filter = QStringLiteral("文本文件 (*.txt *.tsv *.list);;所有文件 (*)");
    const QString path = filedialogs::choose(this, request);
    if (path.isEmpty())
        return;
    // The file is read on a worker; its links join the list when they are in (not at all should the
    // window have gone meanwhile).
    diskwork::workThenPost(
        this, [path] { return ReadLinkListFile(path); },
        [this](const LinkImport &links) { addImportedLinks(links); });
}

void fWebSearch::addImportedLinks(const LinkImport &links)
{
    const LinkImportOutcome outcome =
        AddImportedLinks(links, *m_candidates, m_run.options.options().DefaultSaveFolder);
    refreshCount();
    autoSizeColumns();
    showMessage(outcome.error.isEmpty() ? MessageIcon::Information : MessageIcon::Critical,
                linkImportReport(outcome));
}

void fWebSearch::closeEvent(QCloseEvent *event)
{
    // The window takes its candidate list with it: a list that is not empty is not lost without a word.
    if (m_candidates->rowCount() > 0 &&
        !askYesNo(MessageIcon::Question,
                  QStringLiteral("关闭窗口将清空辛辛苦苦搜索的列表数据，您确定要关闭吗？"))) {
        event->ignore();
        return;
    }
    m_walk->stop();
    m_analysis->stop();
    if (!m_host->isDownloadWindowLoaded())
        m_host->showStartupWindow();
    event->accept();
}

void fWebSearch::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!isMinimized())
        layoutWindow();
}

void fWebSearch::onBarDragged(int dy)
{
    PicBar->move(PicBar->x(), PicBar->y() + dy);
    m_barTopTwips = searchlayout::toTwips(PicBar->y());
}

bool fWebSearch::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && watched == centralWidget() && !isMinimized())
        layoutWindow();
    return QMainWindow::eventFilter(watched, event);
}

int fWebSearch::listMinimumHeight() const
{
    const int rows = kListMinRows * StripeRowHeight(ListView1, kRowBand);
    // A wide title brings in the horizontal scroll bar: the rows keep their room beside it.
    const int scrollBar = ListView1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, ListView1);
    return 2 * ListView1->frameWidth() + ListView1->header()->sizeHint().height() + rows + scrollBar;
}

void fWebSearch::layoutWindow()
{
    using namespace searchlayout;
    Input in;
    in.window = QSize(toTwips(width()), toTwips(height()));
    // Until the bar is dragged, the list has its share of the height below the browser.
    in.barTop = m_barTopTwips >= 0 ? m_barTopTwips : toTwips(height()) * kFirstBarShare / 100;
    in.barHeight = kBarHeightTwips;
    in.webPanelTop = toTwips(PicPanWeb->y());
    in.statusBarHeight = toTwips(statusBar()->height());
    in.listOffset = QPoint(toTwips(kListLeft), toTwips(kListTop));
    in.progressSize = QSize(toTwips(PicPanPrograss->width()), toTwips(PicPanPrograss->height()));
    in.listMinHeight = toTwips(listMinimumHeight());
    in.overhead = toTwips(menuWidget() ? menuWidget()->height() : 0);
    const Result r = arrange(in);
    const QSize least(toPixels(r.minimum.width()), toPixels(r.minimum.height()));
    if (minimumSize() != least)
        setMinimumSize(least);
    const QSize wanted(toPixels(r.window.width()), toPixels(r.window.height()));
    if (wanted.width() > width() || wanted.height() > height())
        resize(wanted.expandedTo(size()));
    m_barTopTwips = r.bar.top();
    auto px = [](const QRect &t) {
        return QRect(toPixels(t.x()), toPixels(t.y()), toPixels(t.width()), toPixels(t.height()));
    };
    PicBar->setGeometry(px(r.bar));
    PicPanWeb->setGeometry(px(r.webPanel));
    WebBrowser1->setGeometry(m_address->placeAbove(px(r.browser)));
    PicPanList->setGeometry(px(r.listPanel));
    ListView1->setGeometry(px(r.list));
    PicPanPrograss->move(px(r.progress).topLeft());
}

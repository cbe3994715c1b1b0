#pragma once

#include "core/search/candidateanalysis.h"
#include "core/search/candidateremoval.h"
#include "ui/runobjects.h"

#include <QMainWindow>
#include <QUrl>
#include <memory>

class AddAllWalk;
struct LinkImport;
class CandidateListModel;
class DownloadQueue;
class QLabel;
class QMenu;
class QPushButton;
class QTreeView;
class PageAddressLine;
class QWebEngineView;
class SearchWindowHost;
class SeenRecorder;
class SilentWebPage;
class SplitterBar;
class WebEngineResultPage;

// The search window: the literature site in the browser above, the candidate list below.
// Created with WA_DeleteOnClose; the caller shows it after construction.
class fWebSearch : public QMainWindow
{
    Q_OBJECT

public:
    fWebSearch(SearchWindowHost *host, const QUrl &homePage, const RunObjects &run,
               QWidget *parent = nullptr);
    ~fWebSearch() override;

    CandidateListModel *candidates() const { return m_candidates; }
    AddAllWalk *addAllWalk() const { return m_walk; }
    CandidateAnalysis *analysis() const { return m_analysis; }
    SilentWebPage *page() const { return m_page; }
    QWebEngineView *browser() const { return WebBrowser1; }
    QTreeView *candidateView() const { return ListView1; }
    QMenu *joinMenu() const { return m_menuJoin; }
    QMenu *clearMenu() const { return m_menuClear; }
    // Text of a status bar panel, counted from 1.
    QString statusPanelText(int panel) const;

    bool AnalysisStopped() const { return m_analysis->AnalysisStopped(); }
    // Gives the queue the politeness the site rules ask of each site.
    void keepSitePoliteness(DownloadQueue &queue) const;

    // Commands, as the buttons and menus run them.
    void addThisPage();
    void toggleAddAll();
    void analyseAndDownload();
    void startAnalysis(AnalysisCommand command);
    void removeRows(RemovalRule rule);
    void clearAll();
    void exportList();
    void openGivenAddress();
    // "从文本文件导入链接…": one address, or title TAB address, per line into the candidate list.
    void importLinks();
    void addImportedLinks(const LinkImport &links);
    // "站点规则…": which rules apply to the page on show and where they come from.
    void showSiteRules();
    // "检查本页": what the rules find on the page on show.
    void checkThisPage();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildListButtons();
    void buildMenus();
    void connectBrowser();
    void refreshCount();
    void autoSizeColumns();
    void startAddAll(int ticket); // the page on show has something for the walk
    void onAddAllFinished();
    void onAnalysisStarted();
    void onAnalysisFinished(const QString &resultText);
    void layoutWindow();
    int listMinimumHeight() const; // pixels: header and five rows of the candidate list
    void onBarDragged(int dy);

    SearchWindowHost *m_host;
    RunObjects m_run;
    QUrl m_homePage;
    QString m_lastExportPath;
    CandidateListModel *m_candidates = nullptr;
    SilentWebPage *m_page = nullptr;
    std::unique_ptr<WebEngineResultPage> m_pageReader;
    AddAllWalk *m_walk = nullptr;
    CandidateAnalysis *m_analysis = nullptr;
    SeenRecorder *m_seenRecorder = nullptr; // papers taken are kept in the paper library
    // Whether "加入全部到列表" walks the pages now; the button's caption follows it.
    // Checking: the page on show is read before the walk (and its folder question) starts.
    enum class AddAllState { Idle, Checking, Walking };
    AddAllState m_addAllState = AddAllState::Idle;
    int m_addAllTicket = 0; // the look at the first page that may start the walk
    int m_barTopTwips = -1;

    QWidget *PicPanWeb = nullptr;
    QWidget *PicPanList = nullptr;
    SplitterBar *PicBar = nullptr;
    QWebEngineView *WebBrowser1 = nullptr;
    PageAddressLine *m_address = nullptr; // the address of the page on show, above the browser
    QTreeView *ListView1 = nullptr;
    QLabel *Label1 = nullptr;
    QWidget *PicPanPrograss = nullptr;
    QLabel *Label11 = nullptr;
    QPushButton *m_addPageButton = nullptr;
    QPushButton *m_addAllButton = nullptr;
    QPushButton *m_analyseButton = nullptr;
    QPushButton *m_exportButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QLabel *m_statusPanels[3] = {};
    QMenu *m_menuJoin = nullptr;
    QMenu *m_menuClear = nullptr;
};

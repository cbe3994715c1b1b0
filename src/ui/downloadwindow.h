#pragma once

#include "core/queue/downloadcommands.h"
#include "core/queue/exportrecords.h"
#include "core/queue/queueprogress.h"
#include "core/transfer/scheduleroptions.h"

#include <QMainWindow>
#include <QRect>
#include <QSet>
#include <QTimer>
#include <array>
#include <functional>

class CookieMirror;
class DesktopNotifier;
class DownloadListModel;
class DownloadQueue;
class DownloadScheduler;
class DownloadSession;
class LoginPanel;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QTreeView;

// The status bar's panels, numbered from the left.
enum class StatusPanel { Slogan = 1, Transfer = 2, Connection = 3, Totals = 4 };

// Where the regions of the download window go for a window of the given outer size (all in pixels).
struct DownloadLayout
{
    QRect bar;
    QRect list;    // the login panel covers exactly this rectangle
    QRect browser; // inside the login panel
};
// Lengths of the layout in twips, 15 twips to the pixel.
constexpr int twipsToPixels(int twips)
{
    return (twips + 7) / 15;
}
DownloadLayout computeDownloadLayout(QSize outerSize, int titleBarHeight, int menuBarHeight,
                                     int statusBarHeight, int barHeight, int browserTop);

// The download window: the download list with its commands, the queue's controls, the login panel.
// The scheduler does the downloading; the window keeps its options in step with the controls.
class fFileDownload : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int RowHeight = 17;

    explicit fFileDownload(QWidget *parent = nullptr);
    ~fFileDownload() override;

    DownloadListModel *model() const { return m_model; }
    const DownloadScheduler *scheduler() const { return m_scheduler; }
    LoginPanel *loginPanel() const { return PicWebBK; }
    DownloadSession *session() const { return m_session; }
    DownloadQueue *queue() const { return m_queue; }
    CookieMirror *cookieMirror() const;

    // Shell actions of the list commands (tests replace them).
    void setShellHooks(ShellHooks hooks) { m_shell = std::move(hooks); }
    const ShellHooks &shellHooks() const { return m_shell; }

    // Rows whose selection mark is set, and the current row when it is selected (-1: none).
    QList<int> selectedRows() const;
    int selectedRow() const;
    QList<RowId> selectedIds() const;
    RowId selectedId() const;

    // The menu "列表操作(&D)", also the list's right-click menu.
    QMenu *listMenu() const { return m_listMenu; }
    QAction *action(const QString &objectName) const;
    // The right-click: enables four items from the sort guard (the menu is shown by the caller).
    void prepareListMenu();

    // Commands behind the menu items and list events, callable without a mouse.
    void sortByHeader(int column);
    void webLogin(); // "网页登录"
    // The options window stored new values: the queue takes the method and the proxy from them.
    void takeSharedOptions();

    // "导出" of the list menu: the selected rows, or every done row when none is selected.
    void exportRows(ExportFormat format);

    QString panelText(int panel) const; // status-bar panel 1..4
    // The status bar's place for the queue's speed and time left (empty while no run is on).
    QString speedText() const;
    // Totals, speed, time left and the title's progress, as they stand now (a second's tick does it
    // while a run is on, and a row's end soon after it ends).
    void refreshProgress();
    DesktopNotifier *notifier() const { return m_notifier; }

    // The window's caption; a run shows its progress in front of it.
    static const QString Caption;
    // "站点需要验证：请在登录面板完成验证后点击继续"
    static const QString VerificationText;
    // "站点要求登录：请在登录面板登录后点击继续", when the page that came back is a login page
    static const QString LoginText;
    static constexpr int TotalsDelayMs = 200; // a row's end reaches the totals this soon

    // Controls, by the names the program gives them.
    QFrame *Picture3;
    QLabel *Image1;
    QLabel *Label4;
    QLabel *Label1;
    QLabel *Label7;
    QPushButton *Command26;
    QLabel *Label2;
    QComboBox *Combo1;
    QLabel *Label5;
    QComboBox *Combo2;
    QFrame *Picture1;
    QLabel *Label8;
    QRadioButton *Option1;
    QRadioButton *Option2;
    QRadioButton *Option3;
    QCheckBox *Check3;
    QCheckBox *CheckSkipHeld; // "跳过已下载过的文献"
    QCheckBox *Check4;
    QComboBox *Combo4;
    QPushButton *Command4;
    QPushButton *Command31;
    QPushButton *Command1;
    QLabel *Shape1;
    QTreeView *ListView3;
    LoginPanel *PicWebBK;
    QPushButton *cmdContinue; // "继续" after a verification page was solved

Q_SIGNALS:
    // The window accepted a close; the program decides which window comes back.
    void windowClosed();
    void optionsRequested();      // "设置"
    void aboutRequested();        // "关于"
    void searchWindowRequested(); // "打开网页分析窗口"

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControlBar(QWidget *central);
    void buildList(QWidget *central);
    void buildMenus();
    void buildStatusBar();
    void connectScheduler();
    void loadWindow();
    void placeRegions();
    QAction *addItem(QMenu *menu, const QString &text, const QString &name, void (fFileDownload::*slot)());
    void refreshRecordCount();
    void syncPolicy();
    void onMethodShown(DownloadMethod method, bool threadListEnabled, int threadPosition);
    void onRunningChanged(bool running);
    void onHousekeepingDone();
    void onLoginFinished();
    void onQueueFinished();
    void onVerificationNeeded();
    void continueAfterVerification();
    void beginRun();
    void refreshTotalsSoon();
    bool autoRedownloadGoesOn() const;
    // Walks the list with repainting off, as the commands that touch many rows do.
    void runFrozen(const std::function<void()> &work);
    // The paper library: held rows, recorded outcomes, the list kept across runs, exports.
    void connectLibrary();
    void offerLastList();
    void buildExportMenu(QMenu *list);
    void tellLibraryFailure(const QString &message);

    void selectAll();
    void selectNone();
    void shuffle();
    void fitColumns();
    void redownloadSelected();
    void redownloadFailed();
    void redownloadHtml();
    void removeSelected();
    void removeFailed();
    void removeDone();
    void clearAll();
    void startDownloads();
    void stopDownloads();
    void cancelSelected();
    void openFile();
    void openFolder();
    void openInEditor();
    void checkPdf();

    DownloadSession *m_session;
    DownloadQueue *m_queue;
    DownloadListModel *m_model;
    const DownloadScheduler *m_scheduler;
    ShellHooks m_shell;
    QMenu *m_listMenu = nullptr;
    QLabel *panel(StatusPanel which) const { return m_panels[static_cast<size_t>(which) - 1]; }

    std::array<QLabel *, 4> m_panels{};
    QLabel *m_speedPanel = nullptr;
    DesktopNotifier *m_notifier = nullptr;
    QueueProgress m_progress;
    QTimer m_progressTick; // while a run is on
    QTimer m_totalsSoon;   // a row ended: the totals follow shortly
    bool m_closing = false;
    // Panel 2 still names a row of an earlier run.
    bool m_transferTextStale = false;
    bool m_runStopped = false;         // the user stopped the run that is on
    bool m_wallAfterLogin = false;     // a verification page waits for the login that has the browser
    bool m_libraryFailureTold = false; // one message a window: a busy library would repeat it for every row
};

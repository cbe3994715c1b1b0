#pragma once

#include "core/queue/downloadcommands.h"
#include "core/queue/exportrecords.h"
#include "core/rows/queueprogress.h"
#include "core/transfer/scheduleroptions.h"
#include "ui/downloadwindowparts.h"

#include <QMainWindow>
#include <QRect>
#include <QSet>
#include <QTimer>
#include <array>
#include <functional>

class DesktopNotifier;
class DownloadWindowFeedback;
class DownloadWindowLibrary;
class DownloadWindowReferences;
class DownloadWindowCommands;
class DownloadListModel;
class DownloadQueue;
class DownloadScheduler;
class DownloadSession;
class LoginPanel;
class MessageBar;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class QTreeView;
class QueueControls;

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
// The scheduler does the downloading; the window lays out its regions and owns the collaborators that
// do the rest: what the queue reports (DownloadWindowFeedback), the menus and list commands
// (DownloadWindowCommands), the control bar's options (QueueControls) and the paper library's actions.
class fFileDownload : public QMainWindow, public DownloadWindowControls, public DownloadWindowTexts
{
    Q_OBJECT

public:
    static constexpr int RowHeight = 17;

    explicit fFileDownload(const RunObjects &run, QWidget *parent = nullptr);
    ~fFileDownload() override;

    DownloadListModel *model() const { return m_model; }
    const DownloadScheduler *scheduler() const { return m_scheduler; }
    LoginPanel *loginPanel() const { return PicWebBK; }
    DownloadSession *session() const { return m_session; }
    DownloadQueue *queue() const { return m_queue; }
    // The options, site rules and library the window was given.
    const RunObjects &run() const { return m_run; }

    // Shell actions of the list commands.
    const ShellHooks &shellHooks() const { return m_shell; }

    // Rows whose selection mark is set.
    QList<int> selectedRows() const;
    QList<RowId> selectedIds() const;

    // The menu "列表操作(&D)", also the list's right-click menu.
    QMenu *listMenu() const;
    QAction *action(const QString &objectName) const;
    // The right-click: enables four items from the sort guard (the menu is shown by the caller).
    void prepareListMenu();

    // Commands behind list events, callable without a mouse.
    void sortByHeader(int column);
    void webLogin(); // "网页登录"
    // The options window stored new values: the queue takes the method and the proxy from them.
    void takeSharedOptions();

    QString panelText(int panel) const; // status-bar panel 1..4
    // The status bar's place for the queue's speed and time left (empty while no run is on).
    QString speedText() const;
    DesktopNotifier *notifier() const;
    // The band above the list with the pause, the end of a run and a command's result, read whole.
    MessageBar *messageBar() const;
    // "导入…" and "粘贴" of reference lists, and the ways to their papers.
    DownloadWindowReferences *references() const { return m_references; }

Q_SIGNALS:
    // The window accepted a close; the program decides which window comes back.
    void windowClosed();
    void optionsRequested();       // "设置"
    void aboutRequested();         // "关于"
    void searchWindowRequested();  // "打开网页分析窗口"
    void libraryWindowRequested(); // "文献库"

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Tests replace the shell actions, through the door in their support.
    friend struct DownloadWindowSeam;
    void setShellHooks(ShellHooks hooks) { m_shell = std::move(hooks); }
    // The shell actions the list commands and the status bar's links go through.
    void setUpShellHooks();
    // The helpers that do the window's work, each handed the window's parts.
    void makeHelpers();
    void buildControlBar(QWidget *central);
    // The duplicate-name options, the checks and the start and stop buttons of the control bar.
    void buildOptionsBar();
    void buildList(QWidget *central);
    void placeRegions();

    RunObjects m_run;
    DownloadSession *m_session;
    DownloadQueue *m_queue;
    DownloadListModel *m_model;
    const DownloadScheduler *m_scheduler;
    ShellHooks m_shell;
    DownloadWindowFeedback *m_feedback = nullptr;
    bool m_closeConfirmed = false;              // the user agreed to close; the queue was stopped
    QMetaObject::Connection m_closeWhenSettled; // closes once the files on their way are in place
    DownloadWindowCommands *m_commands = nullptr;
    QueueControls *m_controls = nullptr;
    DownloadWindowLibrary *m_library = nullptr;
    DownloadWindowReferences *m_references = nullptr; // reference lists imported and pasted
};

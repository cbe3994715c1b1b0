#pragma once

#include "core/queue/downloadcommands.h"
#include "core/queue/exportrecords.h"
#include "core/rows/queueprogress.h"
#include "core/transfer/scheduleroptions.h"
#include "ui/runobjects.h"

#include <QMainWindow>
#include <QRect>
#include <QSet>
#include <QTimer>
#include <array>
#include <functional>

class DesktopNotifier;
class DownloadWindowFeedback;
class DownloadWindowLibrary;
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
// The scheduler does the downloading; the window lays out its regions and owns the collaborators that
// do the rest: what the queue reports (DownloadWindowFeedback), the menus and list commands
// (DownloadWindowCommands), the control bar's options (QueueControls) and the paper library's actions.
class fFileDownload : public QMainWindow
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

    // The window's caption; a run shows its progress in front of it.
    static const QString Caption;
    // "站点需要验证：请在登录面板完成验证后点击继续"
    static const QString VerificationText;
    // "站点要求登录：请在登录面板登录后点击继续", when the page that came back is a login page
    static const QString LoginText;
    // "下载已暂停：磁盘空间不足，处理后点击继续", when the disk refused a file for a reason the user can mend
    static QString diskPauseText(DiskFault fault);
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
    QPushButton *cmdContinue; // "继续" of the message bar, after a verification page was solved

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
    // Tests replace the shell actions, through the door in their support.
    friend struct DownloadWindowSeam;
    void setShellHooks(ShellHooks hooks) { m_shell = std::move(hooks); }
    void buildControlBar(QWidget *central);
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
};

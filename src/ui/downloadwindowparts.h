#pragma once

#include "core/queue/downloadcommands.h"
#include "core/rows/failurereason.h"
#include "ui/runobjects.h"

#include <QString>

class DownloadQueue;
class LoginPanel;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMainWindow;
class QPushButton;
class QRadioButton;
class QTreeView;

// The status bar's panels, numbered from the left.
enum class StatusPanel { Slogan = 1, Transfer = 2, Connection = 3, Totals = 4 };

// The download window's controls, by the names the program gives them.
struct DownloadWindowControls
{
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
    QPushButton *CommandLibrary = nullptr; // "文献库"
};

// The download window's own texts.
struct DownloadWindowTexts
{
    // The window's caption; a run shows its progress in front of it.
    static const QString Caption;
    // "站点需要验证：请在登录面板完成验证后点击继续"
    static const QString VerificationText;
    // "站点要求登录：请在登录面板登录后点击继续", when the page that came back is a login page
    static const QString LoginText;
    // "下载已暂停：磁盘空间不足，处理后点击继续", when the disk refused a file for a reason the user can mend
    static QString diskPauseText(DiskFault fault);
    static constexpr int TotalsDelayMs = 200; // a row's end reaches the totals this soon
};

// What the download window hands the helpers that do its work (what the queue reports, the menus and
// list commands, the control bar, the library): the window as a frame (menu bar, status bar, title), its
// controls, its queue, what it was lent and its shell actions. They never see the window itself.
struct DownloadWindowParts
{
    QMainWindow &window;
    DownloadWindowControls &controls;
    DownloadQueue *queue;
    const RunObjects &run;
    const ShellHooks &shell;
};

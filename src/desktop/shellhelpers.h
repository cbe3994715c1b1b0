#pragma once

#include "core/common/objectalive.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class QAbstractItemView;
class QWidget;

// The desktop services the helpers below go through. The program uses the real ones; tests replace
// them so nothing is launched and every dialog can be answered.
struct ShellServices
{
    // Opens an address with the desktop's default handler.
    std::function<bool(const QUrl &url)> openUrl;
    // Starts a program with its arguments, each passed as it stands (never through a shell).
    std::function<bool(const QString &program, const QStringList &arguments)> startDetached;
    // Asks the file manager to show the item (a file:// address) selected in its folder.
    std::function<bool(const QString &fileUri)> showItems;
    // Folder dialog starting at startFolder; the chosen folder, or empty text when cancelled.
    std::function<QString(QWidget *owner, const QString &title, const QString &startFolder)> chooseFolder;
    // Whether a web browser is there to take an address. Left empty beside a replaced openUrl, the
    // replacement is taken to be one.
    std::function<bool()> webBrowserAvailable;
};

const ShellServices &shellServices();

// Where stand-ins for the services are put in place: only tests do, through the door in their support.
class ShellServicesSeat
{
    friend struct ShellSeam;
    // Installs services (members left empty get the real ones) and returns those it replaces.
    static ShellServices replace(ShellServices services);
};

// Opens the file with the program associated with its type; "文件不存在！" when there is no such file.
void OpenWithAssociatedProgram(const QString &path, QWidget *owner);

// Opens the file's folder in the file manager with the file selected; false when the file is missing
// or no file manager takes the request.
bool ShowInFolder(const QString &path);

// The same two for a file a look off the GUI thread has just found: they do not look again.
void OpenFoundFile(const QString &path);
bool ShowFoundFileInFolder(const QString &path);

// Folder to preselect for a starting path: its parent folder when one exists, else the home folder.
QString FolderToPreselect(const QString &startPath);

// Lets the user choose a folder; the chosen folder, or the starting path when cancelled, ending in "/".
QString BrowseForFolder(QWidget *owner, const QString &startPath, const QString &title);

// Opens a web page (http or https only) in the user's browser. The browser decides about windows and
// tabs; newWindow is kept for the callers that ask for one. Without a browser, or when the desktop
// refuses the address, a message shows the address so that it can be opened by hand.
void OpenWebPage(const QString &address, bool newWindow);

// What OpenWebPage says when no browser takes the address.
QString NoBrowserMessage(const QString &address);

// The loaded top-level window whose objectName equals name ignoring letter case, or nullptr.
QWidget *LoadedForm(const QString &name);
bool IsFormLoaded(const QString &name);

// Light green and white bands, one per row. A row is bandHeight pixels high, or as high as a line of
// text in the view's font needs when that is more (see StripeRowHeight).
void ApplyRowStripes(QAbstractItemView *view, int bandHeight);
// The height ApplyRowStripes gives a row of text in the view: the larger of bandHeight and the font's need.
int StripeRowHeight(const QAbstractItemView *view, int bandHeight);
inline constexpr unsigned kStripeRgb = 0xE7F8ED; // rgb(231, 248, 237)

// Opens the file in the desktop's default text editor, whatever its extension says.
void openInTextEditor(const QString &path);
// The second half of it: starts the command TextEditorCommand found (which reads the desktop's settings
// files, so callers on the GUI thread find it on a worker), or the desktop's opener when it found none.
void startTextEditor(const QStringList &command, const QString &path);

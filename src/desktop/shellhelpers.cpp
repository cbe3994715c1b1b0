#include "desktop/shellhelpers.h"

#include "core/common/filenames.h"
#include "core/common/messenger.h"
#include "desktop/shelltexteditor.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QProcess>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWidget>
#include <algorithm>
#include <typeinfo>
#include <utility>

namespace {

const QString kFileManagerService = QStringLiteral("org.freedesktop.FileManager1");

bool realShowItems(const QString &fileUri)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    // Both questions go to the bus daemon and answer at once; the file manager itself may take seconds
    // to start, so the request to it is sent without waiting.
    bool available = bus.interface()->isServiceRegistered(kFileManagerService).value();
    if (!available) {
        const QDBusMessage list = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
        const QDBusMessage reply = bus.call(list, QDBus::Block, 2000);
        available = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                    reply.arguments().constFirst().toStringList().contains(kFileManagerService);
    }
    if (!available)
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kFileManagerService, QStringLiteral("/org/freedesktop/FileManager1"),
                                       kFileManagerService, QStringLiteral("ShowItems"));
    call.setArguments({QStringList{fileUri}, QString()});
    return bus.send(call);
}

QString realChooseFolder(QWidget *owner, const QString &title, const QString &startFolder)
{
    return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

// A desktop file is named as the default handler of web addresses.
bool hasDefaultWebHandler()
{
    QStringList lists;
    for (const QString &folder : QStandardPaths::standardLocations(QStandardPaths::ConfigLocation))
        lists << folder + QStringLiteral("/mimeapps.list");
    for (const QString &folder : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        lists << folder + QStringLiteral("/applications/mimeapps.list")
              << folder + QStringLiteral("/applications/defaults.list");
    for (const QString &path : std::as_const(lists)) {
        QFile file(path);
        if (file.size() > 1 << 20 || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.readAll();
        if (text.contains("x-scheme-handler/https=") || text.contains("x-scheme-handler/http="))
            return true;
    }
    return false;
}

bool hasKnownBrowserOnPath()
{
    static const char *const browsers[] = {"x-www-browser",
                                           "firefox",
                                           "firefox-esr",
                                           "chromium",
                                           "chromium-browser",
                                           "google-chrome",
                                           "google-chrome-stable",
                                           "microsoft-edge",
                                           "brave-browser",
                                           "opera",
                                           "vivaldi",
                                           "epiphany",
                                           "konqueror",
                                           "falkon",
                                           "midori",
                                           "qutebrowser",
                                           "librewolf",
                                           "palemoon",
                                           "seamonkey"};
    for (const char *name : browsers) {
        if (!QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
            return true;
    }
    return false;
}

// A browser is there when the user named one, a desktop file is the default handler of web
// addresses, or a known browser is on the PATH. xdg-open alone is no browser: without one it starts,
// fails and shows nothing.
bool realWebBrowserAvailable()
{
    return !qEnvironmentVariableIsEmpty("BROWSER") || hasDefaultWebHandler() || hasKnownBrowserOnPath();
}

ShellServices realServices()
{
    return {
        [](const QUrl &url) { return QDesktopServices::openUrl(url); },
        [](const QString &program, const QStringList &arguments) {
            return QProcess::startDetached(program, arguments);
        },
        realShowItems,
        realChooseFolder,
        realWebBrowserAvailable,
    };
}

ShellServices &installed()
{
    static ShellServices services = realServices();
    return services;
}

} // namespace

ShellServices ShellServicesSeat::replace(ShellServices services)
{
    const ShellServices real = realServices();
    if (!services.webBrowserAvailable)
        services.webBrowserAvailable =
            services.openUrl ? std::function<bool()>([] { return true; }) : real.webBrowserAvailable;
    if (!services.openUrl)
        services.openUrl = real.openUrl;
    if (!services.startDetached)
        services.startDetached = real.startDetached;
    if (!services.showItems)
        services.showItems = real.showItems;
    if (!services.chooseFolder)
        services.chooseFolder = real.chooseFolder;
    return std::exchange(installed(), std::move(services));
}

const ShellServices &shellServices()
{
    return installed();
}

void OpenWithAssociatedProgram(const QString &path, QWidget *owner)
{
    Q_UNUSED(owner)
    if (!FileExists(path)) {
        showMessage(MessageIcon::Critical, QStringLiteral("文件不存在！"));
        return;
    }
    OpenFoundFile(path);
}

void OpenFoundFile(const QString &path)
{
    if (shellServices().openUrl(QUrl::fromLocalFile(path)))
        return;
    shellServices().startDetached(QStringLiteral("xdg-open"), {path});
}

bool ShowInFolder(const QString &path)
{
    const QString file = path.trimmed();
    if (!FileExists(file))
        return false;
    return ShowFoundFileInFolder(file);
}

bool ShowFoundFileInFolder(const QString &path)
{
    const QString file = path.trimmed();
    const QString absolute = QFileInfo(file).absoluteFilePath(); // a name, no look at the disk
    return shellServices().showItems(QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded));
}

QString FolderToPreselect(const QString &startPath)
{
    const QString home = QDir::homePath() + u'/';
    QString folder = startPath;
    if (folder.trimmed().isEmpty())
        return home;
    // Both "/data/papers/2014/" and "/data/papers/2014" preselect "/data/papers/".
    if (folder.size() > 1) {
        const qsizetype slash = folder.lastIndexOf(u'/', folder.size() - 2);
        if (slash >= 0)
            folder = folder.left(slash + 1);
    }
    if (!QDir::isAbsolutePath(folder) || !FolderExists(folder))
        return home;
    return folder;
}

QString BrowseForFolder(QWidget *owner, const QString &startPath, const QString &title)
{
    QString result = shellServices().chooseFolder(owner, title, FolderToPreselect(startPath));
    if (result.isEmpty())
        result = startPath;
    if (!result.endsWith(u'/'))
        result += u'/';
    return result;
}

void OpenWebPage(const QString &address, bool newWindow)
{
    Q_UNUSED(newWindow)
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return;
    const QString shown = url.toString(QUrl::FullyEncoded);
    const bool opened =
        shellServices().webBrowserAvailable() &&
        (shellServices().openUrl(url) || shellServices().startDetached(QStringLiteral("xdg-open"), {shown}));
    if (!opened)
        showMessage(MessageIcon::Information, NoBrowserMessage(shown));
}

QString NoBrowserMessage(const QString &address)
{
    return QStringLiteral("没有找到网页浏览器，请在浏览器中打开这个网址：\n") + address;
}

QWidget *LoadedForm(const QString &name)
{
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return window;
    }
    return nullptr;
}

bool IsFormLoaded(const QString &name)
{
    return LoadedForm(name) != nullptr;
}

namespace {

// Height of a row holding one line of text in the option's font. The sample mixes Latin and Chinese
// script: titles are mostly Chinese, and a Chinese font's line is often taller than a Latin one's.
int textRowNeed(QStyleOptionViewItem option, const QWidget *widget)
{
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("Ag汉字");
    option.icon = QIcon();
    option.decorationSize = QSize();
    const QStyle *style = widget ? widget->style() : QApplication::style();
    return style->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), widget).height();
}

// Gives every row of a tree or list view the band height, or the height its text needs when taller.
class BandRowDelegate : public QStyledItemDelegate
{
public:
    BandRowDelegate(int height, QObject *parent) : QStyledItemDelegate(parent), m_height(height) {}
    void setHeight(int height) { m_height = height; }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max({m_height, size.height(), textRowNeed(option, option.widget)}));
        return size;
    }

private:
    int m_height;
};

void setRowHeight(QAbstractItemView *view, int height)
{
    if (auto *table = qobject_cast<QTableView *>(view)) {
        const int rowHeight = StripeRowHeight(view, height);
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table->verticalHeader()->setMinimumSectionSize(
            qMin(rowHeight, table->verticalHeader()->minimumSectionSize()));
        table->verticalHeader()->setDefaultSectionSize(rowHeight);
        return;
    }
    if (auto *band = dynamic_cast<BandRowDelegate *>(view->itemDelegate())) {
        band->setHeight(height);
        view->doItemsLayout();
        return;
    }
    // A view with a delegate of its own keeps it: that delegate decides the row height.
    if (view->itemDelegate() && typeid(*view->itemDelegate()) != typeid(QStyledItemDelegate))
        return;
    view->setItemDelegate(new BandRowDelegate(height, view));
}

} // namespace

int StripeRowHeight(const QAbstractItemView *view, int bandHeight)
{
    if (!view)
        return bandHeight;
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.font = view->font();
    option.fontMetrics = view->fontMetrics();
    return std::max(bandHeight, textRowNeed(option, view));
}

void ApplyRowStripes(QAbstractItemView *view, int bandHeight)
{
    if (!view || bandHeight <= 0)
        return;
    QPalette palette = view->palette();
    // The first row is green: rows of even position use Base, the others AlternateBase.
    palette.setColor(QPalette::Base, QColor::fromRgb(kStripeRgb));
    palette.setColor(QPalette::AlternateBase, Qt::white);
    view->setPalette(palette);
    view->setAlternatingRowColors(true);
    setRowHeight(view, bandHeight);
}

void openInTextEditor(const QString &path)
{
    startTextEditor(TextEditorCommand(path), path);
}

void startTextEditor(const QStringList &command, const QString &path)
{
    if (!command.isEmpty() && shellServices().startDetached(command.first(), command.mid(1)))
        return;
    shellServices().startDetached(QStringLiteral("xdg-open"), {path});
}

#include "ui/folderhistory.h"

#include "core/common/disklooks.h"
#include "core/common/filenames.h"
#include "core/common/folderaccess.h"
#include "core/common/gbk.h"
#include "core/common/messenger.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>

QStringList ParseFolderHistory(const QByteArray &bytes)
{
    QString text = gbk::decode(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    QStringList folders;
    int counted = 0;
    for (const QString &raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        if (++counted > kFolderHistoryLines)
            break;
        if (!folders.contains(line, Qt::CaseInsensitive))
            folders.append(line);
    }
    return folders;
}

QByteArray FormatFolderHistory(const QStringList &folders)
{
    if (folders.isEmpty())
        return QByteArrayLiteral("\r\n");
    QByteArray bytes;
    for (const QString &folder : folders)
        bytes += gbk::encode(folder) + "\r\n";
    return bytes;
}

void LoadFolderHistory(QComboBox *box, const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return;
    box->clear();
    if (file.open(QIODevice::ReadOnly))
        box->addItems(ParseFolderHistory(file.readAll()));
}

void SaveFolderHistory(QComboBox *box, const QString &path)
{
    QStringList folders;
    for (int i = 0; i < box->count(); ++i)
        folders.append(box->itemText(i));
    WriteFolderHistory(folders, path);
}

void WriteFolderHistory(const QStringList &folders, const QString &path)
{
    countDiskLook();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Written aside and moved into place, so a full disk never leaves half a history behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(FormatFolderHistory(folders));
    file.commit();
}

QString CreateFolderChain(const QString &path)
{
    bool badName = false;
    const QString folder = MakeFolderChain(path, &badName);
    if (badName)
        showMessage(MessageIcon::Critical, QStringLiteral("文件夹名称有误！不能创建文件夹！"));
    return folder;
}

void FitDropDownWidth(QComboBox *box)
{
    QString longest;
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemText(i).size() > longest.size())
            longest = box->itemText(i);
    }
    int width = box->fontMetrics().horizontalAdvance(longest) + 7;
    if (box->count() > 8)
        width += box->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, box);
    if (const QScreen *screen = box->screen()) {
        const int room = screen->geometry().right() + 1 - box->mapToGlobal(QPoint(0, 0)).x();
        width = qMin(width, qMax(room, 0));
    }
    box->view()->setMinimumWidth(width);
}

QString FolderHistoryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/SaveList.dat");
}

QString DefaultSaveFolderSetting()
{
    // The user's documents, else downloads, else the home folder: wherever the desktop keeps papers.
    QString base = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return base + QStringLiteral("/Folionexus/");
}

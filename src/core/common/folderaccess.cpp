#include "core/common/folderaccess.h"

#include "core/common/disklooks.h"
#include "core/common/filenames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

FolderAccess fromError(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return FolderAccess::Full;
    case ENOENT:
        return FolderAccess::Missing;
    case ENOTDIR:
        return FolderAccess::NotAFolder;
    case EROFS:
        return FolderAccess::ReadOnly;
    default:
        return FolderAccess::NotWritable;
    }
}

bool onlyDotsAndSpaces(const QString &name)
{
    return std::all_of(name.begin(), name.end(), [](QChar c) { return c == u'.' || c == u' '; });
}

} // namespace

FolderAccess ProbeFolderAccess(const QString &folder)
{
    countDiskLook();
    const QFileInfo info(folder);
    if (!info.exists())
        return FolderAccess::Missing;
    if (!info.isDir())
        return FolderAccess::NotAFolder;

    QString base = folder;
    if (!base.endsWith(u'/'))
        base += u'/';
    const QByteArray path = QFile::encodeName(
        base +
        QStringLiteral(".folionexus-probe-%1").arg(QRandomGenerator::global()->generate(), 8, 16, u'0'));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fromError(errno);
    FolderAccess result = FolderAccess::Writable;
    const char byte = 0;
    ssize_t written = -1;
    do {
        written = ::write(fd, &byte, 1);
    } while (written < 0 && errno == EINTR);
    if (written != 1)
        result = fromError(errno);
    ::close(fd);
    ::unlink(path.constData());
    return result;
}

QString MakeFolderChain(const QString &path, bool *badName)
{
    countDiskLook();
    const QString absolute = path.trimmed();
    if (!absolute.startsWith(u'/'))
        return {};
    const QStringList components = absolute.split(u'/');
    QString result; // empty stands for the root
    for (qsizetype i = 1; i < components.size(); ++i) {
        // An empty component ends the walk; the trailing "/" of a folder gives one.
        if (components[i].isEmpty())
            break;
        // A folder that is already there is taken as it is ("Notes: 2024" is a good name on this disk);
        // only names still to be created are cleaned. "." and ".." are never taken: they would climb.
        const QString asIs = result + u'/' + components[i];
        if (!onlyDotsAndSpaces(components[i]) && QFileInfo::exists(asIs)) {
            result = asIs;
            continue;
        }
        const QString clean = CleanFileName(components[i]);
        // Spaces can shield dots from the cleaning (" .. " cleans to ".."); such a name would climb.
        if (clean.isEmpty() || onlyDotsAndSpaces(clean)) {
            if (badName)
                *badName = true;
            break;
        }
        result += u'/' + clean;
        if (!QFileInfo::exists(result))
            QDir().mkdir(result);
    }
    if (result.isEmpty())
        result = QStringLiteral("/");
    // Only a folder will do: a file at the end of the walk cannot take downloads.
    return FolderExists(result) ? result : QString();
}

ChosenFolderCheck CheckChosenFolder(const QString &typed)
{
    ChosenFolderCheck check;
    QString folder = typed;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    folder = MakeFolderChain(folder, &check.badName);
    // The root folder is no place for downloads; an empty or blank box would otherwise end up there.
    if (folder == u"/")
        folder.clear();
    check.folder = folder;
    if (!folder.isEmpty()) {
        check.probed = true;
        check.access = ProbeFolderAccess(folder);
    } else if (typed.startsWith(u'/') && typed != u"/") {
        // An absolute path says why it failed; a blank or relative one has nothing more to say.
        check.probed = true;
        check.access = ProbeFolderAccess(typed);
    }
    return check;
}

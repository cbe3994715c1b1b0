#include "core/cache/forcedelete.h"

#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool deleteFileAt(int folderFd, const QByteArray &name)
{
    struct stat st;
    if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
        return false;
    if (S_ISREG(st.st_mode) && st.st_nlink == 1 && !(st.st_mode & S_IWUSR)) {
        // Never follows: a name swapped for a link in between makes this fail, not reach the link's target.
        ::fchmodat(folderFd, name.constData(), (st.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW);
    }
    // unlinkat removes a link itself, never what it points to.
    return ::unlinkat(folderFd, name.constData(), 0) == 0;
}

} // namespace

bool 强制删除(const QList<AnchoredPath> &roots, const QString &path)
{
    const std::optional<AnchoredPath> target = anchorBelow(roots, path);
    if (!target)
        return false;
    const UniqueFd folder = openAnchoredFolder(target->parent());
    return folder.valid() && deleteFileAt(folder.get(), QFile::encodeName(target->lastStep()));
}

void forceDeleteIn(int folderFd, const QStringList &names)
{
    for (const QString &name : names)
        deleteFileAt(folderFd, QFile::encodeName(name));
}

void 删除空文件夹(const QList<AnchoredPath> &roots, const QStringList &folders)
{
    for (qsizetype i = folders.size() - 1; i >= 0; --i) {
        if (folders.at(i).isEmpty())
            continue;
        const std::optional<AnchoredPath> target = anchorBelow(roots, folders.at(i));
        if (!target)
            continue;
        const UniqueFd parent = openAnchoredFolder(target->parent());
        if (!parent.valid())
            continue;
        const QByteArray name = QFile::encodeName(target->lastStep());
        struct stat st;
        if (::fstatat(parent.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
            continue;
        if ((st.st_mode & S_IRWXU) != S_IRWXU)
            ::fchmodat(parent.get(), name.constData(), (st.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW);
        ::unlinkat(parent.get(), name.constData(), AT_REMOVEDIR);
    }
}

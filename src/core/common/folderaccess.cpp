#include "core/common/folderaccess.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
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
    default:
        return FolderAccess::NotWritable;
    }
}

} // namespace

FolderAccess ProbeFolderAccess(const QString &folder)
{
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

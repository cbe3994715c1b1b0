#include "core/rows/ownedfile.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

FileIdentity IdentityOfStatus(const struct stat &st)
{
    if (!S_ISREG(st.st_mode))
        return {};
    return {static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino), static_cast<qint64>(st.st_size),
            static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

namespace {

// The folder of a path held open, so that what is checked there and what is then done there is one and
// the same entry, whatever the folder's path comes to name meanwhile.
class OpenFolder
{
public:
    explicit OpenFolder(const QString &path)
    {
        const qsizetype slash = path.lastIndexOf(u'/');
        if (slash < 0)
            return;
        m_name = QFile::encodeName(path.mid(slash + 1));
        const QByteArray folder = QFile::encodeName(slash == 0 ? QStringLiteral("/") : path.left(slash));
        if (!m_name.isEmpty() && m_name != "." && m_name != "..")
            m_fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~OpenFolder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenFolder(const OpenFolder &) = delete;
    OpenFolder &operator=(const OpenFolder &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    const QByteArray &name() const { return m_name; }
    // The identity of the entry, not following a link.
    FileIdentity identity() const
    {
        struct stat st
        {
        };
        if (m_fd < 0 || ::fstatat(m_fd, m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return {};
        return IdentityOfStatus(st);
    }

private:
    int m_fd = -1;
    QByteArray m_name;
};

QString folderOf(const QString &path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

} // namespace

PathEntry EntryAt(const QString &path)
{
    struct stat st
    {
    };
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return PathEntry::None;
    return S_ISREG(st.st_mode) ? PathEntry::File : PathEntry::Other;
}

FileIdentity IdentityOf(const QString &path)
{
    struct stat st
    {
    };
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return IdentityOfStatus(st);
}

bool IsStillOwned(const OwnedFile &owned)
{
    return !owned.isNone() && IdentityOf(owned.path) == owned.identity;
}

bool RemoveOwnedFile(const OwnedFile &owned)
{
    if (owned.isNone())
        return false;
    const OpenFolder folder(owned.path);
    if (!folder.isOpen() || folder.identity() != owned.identity)
        return false;
    return ::unlinkat(folder.fd(), folder.name().constData(), 0) == 0;
}

OwnedFile MoveOwnedFile(const OwnedFile &owned, const QString &newPath)
{
    if (owned.isNone() || folderOf(newPath) != folderOf(owned.path) || newPath == owned.path)
        return {};
    const OpenFolder folder(owned.path);
    const QByteArray target = QFile::encodeName(newPath.mid(newPath.lastIndexOf(u'/') + 1));
    if (!folder.isOpen() || target.isEmpty() || target.contains('/') || folder.identity() != owned.identity)
        return {};
    const char *from = folder.name().constData();
    int error =
        ::renameat2(folder.fd(), from, folder.fd(), target.constData(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    // File systems without the no-replace move: a hard link fails the same way on a taken name.
    if (error == EINVAL) {
        error = ::linkat(folder.fd(), from, folder.fd(), target.constData(), 0) == 0 ? 0 : errno;
        if (error == 0)
            ::unlinkat(folder.fd(), from, 0);
    }
    if (error != 0)
        return {};
    return {newPath, owned.identity};
}

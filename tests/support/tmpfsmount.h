#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace fntest {

// A small file system of its own (tmpfs) at a folder, for disks that fill or turn read-only under a
// test. Mounting needs the right to mount (root, or a user namespace that allows it): where there is
// none, isMounted() is false and why() says so, for the test's skip.
class TmpfsMount
{
public:
    TmpfsMount(const QString &folder, const QByteArray &size) : m_folder(folder), m_options("size=" + size)
    {
        QDir().mkpath(folder);
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, m_options.constData()) == 0)
            m_mounted = true;
        else
            m_why = QStringLiteral("a tmpfs cannot be mounted here: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool isMounted() const { return m_mounted; }
    QString why() const { return m_why; }
    QString folder() const { return m_folder; }

    bool setReadOnly(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", QFile::encodeName(m_folder).constData(), "tmpfs", flags,
                       m_options.constData()) == 0;
    }

    // Fills what is left of it with one file; true once a write was refused for want of space.
    bool fill(const QString &name = QStringLiteral("filler"))
    {
        const int fd = ::open(QFile::encodeName(m_folder + u'/' + name).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const QByteArray block(4096, 'f');
        int error = 0;
        for (;;) {
            if (::write(fd, block.constData(), static_cast<size_t>(block.size())) < 0) {
                error = errno;
                break;
            }
        }
        ::close(fd);
        return error == ENOSPC;
    }

private:
    QString m_folder;
    QByteArray m_options;
    bool m_mounted = false;
    QString m_why;
};

} // namespace fntest

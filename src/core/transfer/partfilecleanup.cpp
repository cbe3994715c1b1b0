// What transfers of runs that ended without cleaning up (a crash, a kill, a power cut) left in a folder.
#include "core/common/disklooks.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/partfile.h"

#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The pid a temporary name was made by, or 0 when the name is not one of ours.
pid_t ownerOf(const char *name)
{
    const size_t prefix = std::strlen(PartFile::Prefix);
    if (std::strncmp(name, PartFile::Prefix, prefix) != 0)
        return 0;
    char *end = nullptr;
    const long pid = std::strtol(name + prefix, &end, 10);
    return (end && *end == '-' && pid > 0) ? static_cast<pid_t>(pid) : 0;
}

bool processAlive(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace

int RemoveDeadPartFiles(const QString &folder, qint64 notAfterSecs)
{
    countDiskLook();
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const pid_t owner = ownerOf(entry->d_name);
        if (owner == 0 || owner == ::getpid() || processAlive(owner))
            continue;
        struct stat st
        {
        };
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (st.st_mtime > notAfterSecs)
            continue;
        if (::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

void RemoveDeadPartFilesLater(const QString &folder, qint64 notAfterSecs)
{
    diskwork::writePool().start([folder, notAfterSecs] { RemoveDeadPartFiles(folder, notAfterSecs); });
}

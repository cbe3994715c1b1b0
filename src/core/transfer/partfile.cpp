#include "core/transfer/partfile.h"

#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <stdio.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

constexpr qint64 kWriteBackChunk = 8LL * 1024 * 1024;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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

// Flushes wait on the disk, not on a processor: many may run at once, and the file system then commits
// them together.
QThreadPool &flushPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(16);
        p->setExpiryTimeout(5000);
        return p;
    }();
    return *pool;
}

std::atomic<qint64> flushesMade{0};
std::atomic<int> groupWindowMs{3};

// Files that finish close together are flushed together: the first waits a few milliseconds for others,
// then one flush of their file system puts them all on the disk, and every file reports at once. Files
// that finish while a group is being flushed form the next group. A file alone is flushed by itself, so
// it does not wait on whatever else the file system holds.
class FlushGroups
{
public:
    struct Request
    {
        int fd = -1;
        std::function<void(int error)> report; // called on a worker thread with 0 or an errno
    };

    void add(Request request)
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(request));
        if (m_running)
            return;
        m_running = true;
        flushPool().start([this] { run(); });
    }

private:
    void run()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(groupWindowMs.load()));
        for (;;) {
            std::vector<Request> group;
            {
                std::lock_guard lock(m_mutex);
                group.swap(m_pending);
                if (group.empty()) {
                    m_running = false;
                    return;
                }
            }
            flushGroup(group);
        }
    }

    static void flushGroup(std::vector<Request> &group)
    {
        std::vector<int> errors(group.size(), 0);
        if (group.size() == 1) {
            ++flushesMade;
            if (::fdatasync(group.front().fd) != 0)
                errors.front() = errno;
        } else {
            // One flush for each file system the group's files are on (almost always a single one).
            std::vector<std::pair<dev_t, int>> flushed; // a file system and the error of its flush
            for (size_t i = 0; i < group.size(); ++i) {
                struct stat st
                {
                };
                if (::fstat(group[i].fd, &st) != 0) {
                    errors[i] = errno;
                    continue;
                }
                auto it = std::find_if(flushed.begin(), flushed.end(),
                                       [&st](const auto &entry) { return entry.first == st.st_dev; });
                if (it == flushed.end()) {
                    ++flushesMade;
                    flushed.emplace_back(st.st_dev, ::syncfs(group[i].fd) == 0 ? 0 : errno);
                    it = flushed.end() - 1;
                }
                errors[i] = it->second;
            }
        }
        for (size_t i = 0; i < group.size(); ++i) {
            if (::close(group[i].fd) != 0 && errors[i] == 0)
                errors[i] = errno;
            group[i].report(errors[i]);
        }
    }

    std::mutex m_mutex;
    std::vector<Request> m_pending;
    bool m_running = false;
};

FlushGroups &flushGroups()
{
    static auto *groups = new FlushGroups;
    return *groups;
}

} // namespace

bool IsPlainFileName(const QString &name)
{
    if (name.isEmpty() || name == u"." || name == u".." || name.contains(u'/') || name.contains(QChar(0)))
        return false;
    return name.toUtf8().size() <= 255;
}

PartFile::~PartFile()
{
    discard();
}

void PartFile::closeAll()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_dirFd >= 0)
        ::close(m_dirFd);
    m_fd = m_dirFd = -1;
}

bool PartFile::open(const QString &folder)
{
    discard();
    m_folder = folder;
    m_dirFd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0) {
        m_error = systemError(errno);
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = QStringLiteral("%1%2-%3")
                                 .arg(QLatin1String(Prefix))
                                 .arg(::getpid())
                                 .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0'));
        const int fd = ::openat(m_dirFd, encoded(name).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            m_error = systemError(errno);
            closeAll();
            return false;
        }
        m_fd = fd;
        m_tempName = name;
        m_written = 0;
        m_syncedUpTo = 0;
        m_flushed = false;
        return true;
    }
    m_error = systemError(EEXIST);
    closeAll();
    return false;
}

bool PartFile::reopen(const QString &folder, const QString &temporaryName)
{
    discard();
    if (!temporaryName.startsWith(QLatin1String(Prefix)) || !IsPlainFileName(temporaryName))
        return false;
    m_folder = folder;
    m_dirFd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0) {
        m_error = systemError(errno);
        return false;
    }
    const int fd =
        ::openat(m_dirFd, encoded(temporaryName).constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    struct stat st
    {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_error = systemError(fd < 0 ? errno : EINVAL);
        if (fd >= 0)
            ::close(fd);
        closeAll();
        return false;
    }
    m_fd = fd;
    m_tempName = temporaryName;
    m_written = st.st_size;
    m_syncedUpTo = 0;
    return true;
}

bool PartFile::write(const char *data, qint64 length)
{
    if (m_fd < 0)
        return false;
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::write(m_fd, data + done, static_cast<size_t>(length - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_error = systemError(errno);
            return false;
        }
        done += n;
    }
    m_written += length;
    // Large files start on their way to the disk while they arrive, so the flush at the end finds
    // little left to write.
    if (m_written - m_syncedUpTo >= kWriteBackChunk) {
        ::sync_file_range(m_fd, m_syncedUpTo, m_written - m_syncedUpTo, SYNC_FILE_RANGE_WRITE);
        m_syncedUpTo = m_written;
    }
    return true;
}

QByteArray PartFile::readAt(qint64 offset, qint64 maxBytes) const
{
    if (m_dirFd < 0 || m_tempName.isEmpty())
        return {};
    const int fd = ::openat(m_dirFd, encoded(m_tempName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    QByteArray head(static_cast<qsizetype>(maxBytes), '\0');
    const ssize_t n = ::pread(fd, head.data(), static_cast<size_t>(maxBytes), offset);
    ::close(fd);
    head.truncate(n > 0 ? static_cast<qsizetype>(n) : 0);
    return head;
}

void PartFile::removeKept(const QString &folder, const QString &temporaryName)
{
    if (!temporaryName.startsWith(QLatin1String(Prefix)) || !IsPlainFileName(temporaryName))
        return;
    const int dirFd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    struct stat st
    {
    };
    if (::fstatat(dirFd, encoded(temporaryName).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode))
        ::unlinkat(dirFd, encoded(temporaryName).constData(), 0);
    ::close(dirFd);
}

bool PartFile::truncate()
{
    if (m_fd < 0)
        return false;
    if (::ftruncate(m_fd, 0) != 0) {
        m_error = systemError(errno);
        return false;
    }
    m_written = 0;
    return true;
}

void PartFile::flush(QObject *receiver, std::function<void(bool ok, const QString &error)> done)
{
    if (m_fd < 0) {
        done(false, QStringLiteral("no data"));
        return;
    }
    // The flush owns the file's descriptor from here on; the folder stays with this object.
    const int fd = std::exchange(m_fd, -1);
    QPointer<QObject> guard(receiver);
    flushGroups().add({fd, [guard, done](int error) {
                           if (!guard)
                               return;
                           const QString text = error == 0 ? QString() : systemError(error);
                           QMetaObject::invokeMethod(
                               guard.data(),
                               [guard, done, error, text] {
                                   if (guard)
                                       done(error == 0, text);
                               },
                               Qt::QueuedConnection);
                       }});
    m_flushed = true;
}

qint64 PartFile::flushCount()
{
    return flushesMade.load();
}

void PartFile::setGroupWindow(int milliseconds)
{
    groupWindowMs.store(std::max(0, milliseconds));
}

PartFile::MoveResult PartFile::moveTo(const QString &fileName, bool replace)
{
    MoveResult result;
    if (m_dirFd < 0 || m_tempName.isEmpty() || !IsPlainFileName(fileName)) {
        result.error =
            m_tempName.isEmpty() ? QStringLiteral("no data") : QStringLiteral("not a plain file name");
        return result;
    }
    const QByteArray temp = encoded(m_tempName);
    const QByteArray target = encoded(fileName);
    // The file keeps its identity through the move: it is taken from the temporary file, which only
    // this transfer ever held.
    struct stat st
    {
    };
    if (::fstatat(m_dirFd, temp.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        result.identity = IdentityOfStatus(st);
    int error = ::renameat2(m_dirFd, temp.constData(), m_dirFd, target.constData(),
                            replace ? 0 : RENAME_NOREPLACE) == 0
                    ? 0
                    : errno;
    // File systems without the no-replace move: a hard link fails the same way on a taken name.
    if (error == EINVAL && !replace) {
        error = ::linkat(m_dirFd, temp.constData(), m_dirFd, target.constData(), 0) == 0 ? 0 : errno;
        if (error == 0)
            ::unlinkat(m_dirFd, temp.constData(), 0);
    }
    if (error == EEXIST && !replace) {
        result.nameTaken = true;
        result.error = systemError(error);
        return result;
    }
    if (error != 0) {
        result.error = systemError(error);
        discard();
        return result;
    }
    result.ok = true;
    m_tempName.clear();
    m_written = 0;
    closeAll();
    return result;
}

void PartFile::discard()
{
    m_flushed = false;
    if (m_dirFd >= 0 && !m_tempName.isEmpty())
        ::unlinkat(m_dirFd, encoded(m_tempName).constData(), 0);
    m_tempName.clear();
    m_written = 0;
    closeAll();
}

void PartFile::keep()
{
    m_flushed = false;
    m_tempName.clear();
    m_written = 0;
    closeAll();
}

int RemoveDeadPartFiles(const QString &folder, qint64 notAfterSecs)
{
    const int dirFd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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

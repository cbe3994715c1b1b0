#include "core/cache/cachestore.h"

#include "core/cache/cacheentry.h"
#include "core/cache/forcedelete.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class ReadResult { Entry, NotAnEntry, Failed };

bool readFully(int fd, char *buffer, qint64 length)
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::read(fd, buffer + done, size_t(length - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

ReadResult readEntryAddress(int folderFd, const QByteArray &name, QString *address)
{
    const UniqueFd fd(::openat(folderFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return errno == ENOENT || errno == ELOOP ? ReadResult::NotAnEntry : ReadResult::Failed;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return ReadResult::Failed;
    if (!S_ISREG(st.st_mode) || st.st_size < cacheentry::HeaderSize)
        return ReadResult::NotAnEntry;
    QByteArray header(cacheentry::HeaderSize, Qt::Uninitialized);
    if (!readFully(fd.get(), header.data(), header.size()))
        return ReadResult::Failed;
    const qint64 keyLength = cacheentry::keyLengthFromHeader(header);
    if (keyLength < 0 || cacheentry::HeaderSize + keyLength > st.st_size)
        return ReadResult::NotAnEntry;
    QByteArray key(keyLength, Qt::Uninitialized);
    if (!readFully(fd.get(), key.data(), keyLength))
        return ReadResult::Failed;
    *address = cacheentry::addressFromKey(key);
    return ReadResult::Entry;
}

// Names of the folder's entry files in name order; false when the listing itself failed.
bool readEntryNames(int folderFd, QList<QByteArray> *names)
{
    const int readFd = ::dup(folderFd);
    DIR *dir = readFd >= 0 ? ::fdopendir(readFd) : nullptr;
    if (!dir) {
        if (readFd >= 0)
            ::close(readFd);
        return false;
    }
    ::rewinddir(dir);
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (cacheentry::isEntryFileName(QFile::decodeName(name)))
            names->append(name);
        errno = 0;
    }
    const bool ok = errno == 0;
    ::closedir(dir);
    std::sort(names->begin(), names->end());
    return ok;
}

} // namespace

bool CacheStore::load(const std::atomic_bool *cancel)
{
    m_entries.clear();
    m_byAddress.clear();
    int error = 0;
    const UniqueFd folder = openAnchoredFolder(m_folder, &error);
    if (!folder.valid())
        return error == ENOENT; // no cache yet is not an error
    QList<QByteArray> names;
    const bool listed = readEntryNames(folder.get(), &names);
    for (const QByteArray &name : names) {
        if (cancel && cancel->load())
            break;
        QString address;
        switch (readEntryAddress(folder.get(), name, &address)) {
        case ReadResult::Entry:
            m_byAddress.insert(address, m_entries.size());
            m_entries.append({QFile::decodeName(name), address});
            break;
        case ReadResult::NotAnEntry:
            break;
        case ReadResult::Failed:
            return false;
        }
    }
    return listed;
}

bool CacheStore::GetCacheEntryInfo(const QString &address, QString *localFile) const
{
    // QMultiHash hands back the latest insertion first; the first entry read wins.
    const QList<qsizetype> matches = m_byAddress.values(address);
    if (matches.isEmpty())
        return false;
    const qsizetype first = *std::min_element(matches.begin(), matches.end());
    *localFile = m_folder.child(m_entries.at(first).fileName).path();
    return true;
}

qint64 CacheStore::fileLength(const QString &fileName) const
{
    const UniqueFd folder = openAnchoredFolder(m_folder);
    struct stat st;
    if (!folder.valid() ||
        ::fstatat(folder.get(), QFile::encodeName(fileName).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

int CacheStore::removeEntry(const QString &address)
{
    const QList<qsizetype> matches = m_byAddress.values(address);
    if (matches.isEmpty())
        return 0;
    const UniqueFd folder = openAnchoredFolder(m_folder);
    if (!folder.valid())
        return 0;
    for (qsizetype index : matches)
        forceDeleteIn(folder.get(), cacheentry::siblingFileNames(m_entries.at(index).fileName));
    m_byAddress.remove(address);
    return int(matches.size());
}

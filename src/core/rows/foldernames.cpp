#include "core/rows/foldernames.h"

#include "core/common/backgroundthread.h"

#include <QDateTime>
#include <QFile>
#include <QSet>
#include <QTimer>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every listing and look takes the next number when it starts on the worker.
std::atomic<quint64> g_lookSeq{0};

// A folder changed within this long before it was listed may change again within the same tick of its
// file system's clock without its time showing it: such a listing is taken again.
constexpr qint64 kCoarseClockNs = 2'000'000'000;
constexpr qint64 kRefreshMs = 1000;

qint64 nsOf(const struct timespec &t)
{
    return static_cast<qint64>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

QString folderPart(const QString &path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

QString namePart(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

struct FolderMark
{
    QString folder;
    bool exists = false;
    qint64 modifiedNs = 0;
    qint64 startedNs = 0;
};

bool isStale(const FolderMark &mark)
{
    struct stat st
    {
    };
    countDiskLook();
    const bool exists = ::stat(QFile::encodeName(mark.folder).constData(), &st) == 0 && S_ISDIR(st.st_mode);
    if (exists != mark.exists)
        return true;
    if (!exists)
        return false;
    return nsOf(st.st_mtim) != mark.modifiedNs || mark.modifiedNs + kCoarseClockNs >= mark.startedNs;
}

} // namespace

FolderNames::Listing ListFolder(const QString &folder, quint64 seq)
{
    countDiskLook();
    FolderNames::Listing listing;
    listing.seq = seq;
    listing.startedNs = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return listing;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return listing;
    }
    listing.exists = true;
    listing.modifiedNs = nsOf(st.st_mtim);
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return listing;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray raw(entry->d_name);
        if (raw == "." || raw == "..")
            continue;
        SeenEntry seen{PathEntry::Other};
        // Nothing at the name by now: gone between reading and looking.
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(st.st_mode))
            seen = {PathEntry::File, static_cast<qint64>(st.st_size), IdentityOfStatus(st)};
        listing.names.insert(QFile::decodeName(raw), seen);
    }
    ::closedir(dir);
    return listing;
}

FolderNames::FolderNames(QObject *parent)
    : QObject(parent), m_cancel(std::make_shared<std::atomic_bool>(false))
{
    // One worker: listings and looks come back in the order they were made.
    m_pool.setMaxThreadCount(1);
}

FolderNames::~FolderNames()
{
    m_cancel->store(true);
    m_pool.waitForDone();
}

template <typename Work> void FolderNames::run(Work work)
{
    ++m_inFlight;
    const std::shared_ptr<std::atomic_bool> cancel = m_cancel;
    // The destructor waits for the task, so the object is still there to post to.
    m_pool.start([this, cancel, work = std::move(work)]() mutable {
        MarkBackgroundThread();
        if (cancel->load())
            return;
        auto done = work();
        if (cancel->load())
            return;
        QMetaObject::invokeMethod(
            this,
            [this, done = std::move(done)]() mutable {
                --m_inFlight;
                done();
            },
            Qt::QueuedConnection);
    });
}

bool FolderNames::listed(const QString &folder)
{
    Folder &entry = m_folders[folder];
    if (entry.listing.seq != 0)
        return true;
    if (!entry.asked) {
        entry.asked = true;
        list(folder);
    }
    return false;
}

void FolderNames::list(const QString &folder)
{
    run([this, folder] {
        Listing listing = ListFolder(folder, ++g_lookSeq);
        return [this, folder, listing = std::move(listing)]() mutable {
            tookListing(folder, std::move(listing));
        };
    });
}

SeenEntry FolderNames::look(const QString &path) const
{
    const auto folder = m_folders.constFind(folderPart(path));
    if (folder == m_folders.cend())
        return {};
    return folder->listing.names.value(namePart(path));
}

EntryLook FolderNames::looker() const
{
    return [this](const QString &path) { return look(path); };
}

quint64 FolderNames::recheck(const QString &path)
{
    if (m_batch.isEmpty())
        QTimer::singleShot(0, this, &FolderNames::sendBatch);
    m_batch.insert(path);
    return g_lookSeq.load();
}

bool FolderNames::answeredSince(const QString &path, quint64 ticket) const
{
    const auto folder = m_folders.constFind(folderPart(path));
    if (folder != m_folders.cend() && folder->listing.seq > ticket)
        return true;
    const auto checked = m_checked.constFind(path);
    return checked != m_checked.cend() && checked->seq > ticket;
}

void FolderNames::markTaken(const QString &path)
{
    const auto folder = m_folders.find(folderPart(path));
    if (folder != m_folders.end() && folder->listing.seq != 0 &&
        folder->listing.names.value(namePart(path)).entry == PathEntry::None)
        folder->listing.names.insert(namePart(path), SeenEntry{PathEntry::Other});
    recheck(path);
}

void FolderNames::markGone(const QString &path)
{
    const auto folder = m_folders.find(folderPart(path));
    if (folder != m_folders.end() && folder->listing.seq != 0)
        folder->listing.names.remove(namePart(path));
    recheck(path);
}

void FolderNames::sendBatch()
{
    if (m_batch.isEmpty())
        return;
    const QSet<QString> paths = std::exchange(m_batch, {});
    run([this, paths] {
        const quint64 seq = ++g_lookSeq;
        QHash<QString, SeenEntry> seen;
        seen.reserve(paths.size());
        for (const QString &path : paths)
            seen.insert(path, LookOnDisk(path));
        return [this, seq, seen = std::move(seen)] { tookLooks(seq, seen); };
    });
}

void FolderNames::tookListing(const QString &folder, Listing listing)
{
    Folder &entry = m_folders[folder];
    if (listing.seq < entry.listing.seq)
        return;
    // Names looked at after this listing started are fresher than it.
    for (auto it = m_checked.begin(); it != m_checked.end();) {
        if (folderPart(it.key()) != folder) {
            ++it;
        } else if (it->seq > listing.seq) {
            if (it->entry.entry == PathEntry::None)
                listing.names.remove(namePart(it.key()));
            else
                listing.names.insert(namePart(it.key()), it->entry);
            ++it;
        } else {
            it = m_checked.erase(it);
        }
    }
    entry.listing = std::move(listing);
    announce();
}

void FolderNames::tookLooks(quint64 seq, const QHash<QString, SeenEntry> &seen)
{
    for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
        const auto folder = m_folders.find(folderPart(it.key()));
        if (folder != m_folders.end() && folder->listing.seq > seq)
            continue; // a later listing has it already
        m_checked.insert(it.key(), Checked{seq, it.value()});
        if (folder == m_folders.end() || folder->listing.seq == 0)
            continue;
        if (it->entry == PathEntry::None)
            folder->listing.names.remove(namePart(it.key()));
        else
            folder->listing.names.insert(namePart(it.key()), it.value());
    }
    announce();
}

void FolderNames::refreshDue()
{
    if (m_refreshing || (m_sinceRefresh.isValid() && m_sinceRefresh.elapsed() < kRefreshMs))
        return;
    QList<FolderMark> marks;
    for (auto it = m_folders.cbegin(); it != m_folders.cend(); ++it) {
        if (it->listing.seq != 0)
            marks.append({it.key(), it->listing.exists, it->listing.modifiedNs, it->listing.startedNs});
    }
    if (marks.isEmpty())
        return;
    m_sinceRefresh.start();
    m_refreshing = true;
    run([this, marks] {
        QStringList stale;
        for (const FolderMark &mark : marks) {
            if (isStale(mark))
                stale.append(mark.folder);
        }
        return [this, stale] { tookStale(stale); };
    });
}

void FolderNames::tookStale(const QStringList &folders)
{
    m_refreshing = false;
    for (const QString &folder : folders)
        list(folder);
}

void FolderNames::announce()
{
    m_announce.request();
}

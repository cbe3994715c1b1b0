#include "core/transfer/partfile.h"

#include "core/common/backgroundthread.h"
#include "core/common/sha256.h"
#include "core/pdf/pdfchecker.h"
#include "core/rows/targetfile.h"
#include "core/transfer/diskworkers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
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
// Files up to this size are hashed as they are written; the hash of a larger one would hold up its writes
// (hashing is slower than a fast disk), so it is taken from the finished file by whoever wants it.
constexpr qint64 kLargestDigested = 8LL * 1024 * 1024;
// A new file's first writes wait for what follows until this much is asked for, so that a small file is
// written and handed to its flush in one go on the worker; after that every write goes to the worker as
// it comes.
constexpr qint64 kHeldBytes = 256 * 1024;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A look up of the folder's path: made on a worker, never on the event loop's thread.
int openFolder(const QByteArray &path)
{
    countDiskLook();
    return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

// The folder of a temporary file. Its path is looked up once, on the lane's worker before the file is
// made; the file is made, moved and removed in that very folder by its descriptor from then on. Shared by
// the part, its lane and the work that moves or removes the file after the lane has gone.
struct PartFile::Folder
{
    explicit Folder(QByteArray folderPath) : path(std::move(folderPath)) {}
    ~Folder()
    {
        if (const int open = fd.load(); open >= 0)
            ::close(open);
    }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    // On the lane's worker: the errno of a folder that cannot be opened, or 0.
    int open()
    {
        if (fd.load() >= 0)
            return 0;
        const int opened = openFolder(path);
        if (opened < 0)
            return errno;
        fd.store(opened);
        return 0;
    }

    const QByteArray path;
    // Set by the lane's worker; read by work that follows it (the flush and move, a removal).
    std::atomic<int> fd{-1};
};

// Whether a move asked for has begun or was called off; shared by the part and the worker that moves.
struct PartFile::MoveGate
{
    enum class State { Pending, CalledOff, Begun };

    // On the worker: true when the move goes on (it has begun from now), false when it was called off.
    bool begin()
    {
        std::lock_guard lock(mutex);
        if (state == State::CalledOff)
            return false;
        state = State::Begun;
        return true;
    }
    // True when the move will never be made.
    bool callOff()
    {
        std::lock_guard lock(mutex);
        if (state == State::Pending)
            state = State::CalledOff;
        return state == State::CalledOff;
    }

    std::mutex mutex;
    State state = State::Pending;
};

// The writes of one file, done in the order they were asked for on a worker thread. The lane owns the
// file's descriptor until it hands it to a flush or closes it.
struct PartFile::Lane : std::enable_shared_from_this<PartFile::Lane>
{
    struct Op
    {
        enum Kind { Create, Reopen, Write, Truncate, Flush, Close } kind = Write;
        QByteArray data;
        std::function<void(int error, const QByteArray &digest)> flushed; // with Flush
        // With Create: the file made; with Reopen: the file opened; with Close: the file removed.
        QByteArray name;
        qint64 size = 0;      // with Reopen: the length the file must have
        qint64 headBytes = 0; // with Reopen: how much of its start to read
        std::function<void(int error, const QByteArray &head)> reopened; // with Reopen
    };

    // The lane opens the file's folder before it makes or opens the file.
    Lane(std::shared_ptr<Folder> in, int descriptor, qint64 written)
        : folder(std::move(in)), fd(descriptor), owned(descriptor >= 0), writtenOut(written),
          syncedUpTo(written)
    {
    }
    ~Lane()
    {
        if (fd >= 0)
            ::close(fd);
    }

    void push(Op op)
    {
        std::lock_guard lock(mutex);
        queued += op.data.size();
        const Op::Kind kind = op.kind;
        ops.push_back(std::move(op));
        if (!flowing && kind == Op::Write && queued < kHeldBytes)
            return;
        if (kind != Op::Create)
            flowing = true;
        startLocked();
    }

    // With the mutex held: the worker takes what is queued.
    void startLocked()
    {
        if (running || ops.empty())
            return;
        running = true;
        diskwork::writePool().start([self = shared_from_this()] {
            MarkBackgroundThread();
            self->run();
        });
    }

    // Drops the writes not yet made (the file is being thrown away).
    void dropWrites()
    {
        std::lock_guard lock(mutex);
        for (auto it = ops.begin(); it != ops.end();) {
            if (it->kind == Op::Write || it->kind == Op::Truncate || it->kind == Op::Create ||
                it->kind == Op::Reopen) {
                queued -= it->data.size();
                it = ops.erase(it);
            } else {
                ++it;
            }
        }
    }

    qint64 backlog() const
    {
        std::lock_guard lock(mutex);
        return queued;
    }

    int lastError() const
    {
        std::lock_guard lock(mutex);
        return error;
    }

    void notifyBelow(qint64 mark, QObject *receiver, std::function<void()> notify)
    {
        std::lock_guard lock(mutex);
        drainMark = mark;
        drainReceiver = receiver;
        drainNotify = std::move(notify);
        if (queued <= drainMark)
            postDrained();
        else {
            flowing = true; // held writes are part of the backlog: they go now
            startLocked();
        }
    }

    // No word of the backlog goes out any more (its receiver is going away).
    void forgetNotify()
    {
        std::lock_guard lock(mutex);
        drainNotify = nullptr;
        drainReceiver = nullptr;
    }

    void run()
    {
        for (;;) {
            Op op;
            {
                std::lock_guard lock(mutex);
                if (ops.empty()) {
                    running = false;
                    return;
                }
                op = std::move(ops.front());
                ops.pop_front();
            }
            const int failure = perform(op);
            const qsizetype done = op.data.size();
            if (op.kind == Op::Write)
                diskwork::spareBuffers().give(std::move(op.data));
            std::lock_guard lock(mutex);
            queued -= done;
            if (failure != 0 && error == 0)
                error = failure;
            if (drainNotify && queued <= drainMark)
                postDrained();
        }
    }

    // With the mutex held.
    void postDrained()
    {
        std::function<void()> notify = std::exchange(drainNotify, nullptr);
        if (notify)
            diskwork::postToReceiver(drainReceiver, std::move(notify));
    }

    // The errno of a failure, or 0.
    int perform(Op &op)
    {
        switch (op.kind) {
        case Op::Create:
            if (const int failure = folder->open(); failure != 0)
                return failure;
            // A name no other file has: the folder is this program's own temporary namespace, and a
            // file already there under it is never written into.
            fd = ::openat(folder->fd.load(), op.name.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            owned = fd >= 0;
            if (fd < 0)
                return errno;
            startHash();
            return 0;
        case Op::Reopen:
            return reopen(op);
        case Op::Write:
            return write(op);
        case Op::Truncate:
            if (fd < 0)
                return 0;
            writtenOut = syncedUpTo = 0;
            hashing = false;
            if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
                return errno;
            startHash(); // the file is empty again: what follows is all of it
            return 0;
        case Op::Flush:
            handOverForFlush(op);
            return 0;
        case Op::Close:
            if (fd >= 0)
                ::close(std::exchange(fd, -1));
            if (owned && !op.name.isEmpty() && folder->fd.load() >= 0)
                ::unlinkat(folder->fd.load(), op.name.constData(), 0);
            folder.reset(); // closed here when no one else holds it
            return 0;
        }
        return 0;
    }

    int write(const Op &op)
    {
        if (fd < 0 || lastError() != 0)
            return 0;
        const char *data = op.data.constData();
        const qint64 length = op.data.size();
        qint64 done = 0;
        while (done < length) {
            const ssize_t n = ::write(fd, data + done, static_cast<size_t>(length - done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += n;
        }
        if (hashing && writtenOut + length > kLargestDigested)
            hashing = false;
        if (hashing)
            hash->addData(data, length);
        writtenOut += length;
        // Large files start on their way to the disk while they arrive, so the flush at the end finds
        // little left to write.
        if (writtenOut - syncedUpTo >= kWriteBackChunk) {
            ::sync_file_range(fd, syncedUpTo, writtenOut - syncedUpTo, SYNC_FILE_RANGE_WRITE);
            syncedUpTo = writtenOut;
        }
        return 0;
    }

    // Every byte written from here on goes into the file's digest too.
    void startHash()
    {
        if (hash)
            hash->reset();
        else
            hash = std::make_unique<Sha256>();
        hashing = true;
    }

    // The file goes to the grouped flush with its descriptor, and its digest with it when the lane wrote
    // all of its content; a write that failed before ends it here.
    void handOverForFlush(Op &op)
    {
        const int failure = lastError();
        const int descriptor = std::exchange(fd, -1);
        if (failure != 0 || descriptor < 0) {
            if (descriptor >= 0)
                ::close(descriptor);
            op.flushed(failure != 0 ? failure : EBADF, QByteArray());
            return;
        }
        diskwork::FlushRequest request;
        request.fd = descriptor;
        request.report = [flushed = std::move(op.flushed), digest = hashing ? hash->result() : QByteArray()](
                             int error) { flushed(error, digest); };
        diskwork::flushGroups().add(std::move(request));
    }

    // The file opened again (descriptor, or -1 with errno set) becomes the lane's when it is a plain file;
    // it must hold size bytes.
    int takeReopened(int descriptor, qint64 size)
    {
        if (descriptor < 0)
            return errno;
        struct stat st
        {
        };
        if (::fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(descriptor);
            return EINVAL;
        }
        // This program's own file under its own name: it goes with the lane whatever it holds. Its content
        // so far was not written here, so it has no digest.
        fd = descriptor;
        owned = true;
        hashing = false;
        return st.st_size != size ? EINVAL : 0;
    }

    // Opens a kept file again to add to it, after reading its start.
    int reopen(const Op &op)
    {
        // A folder that cannot be opened is a file that is gone.
        int failure = folder->open();
        if (failure == 0)
            failure = takeReopened(
                ::openat(folder->fd.load(), op.name.constData(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW),
                op.size);
        QByteArray head;
        if (failure == 0 && op.headBytes > 0) {
            head.resize(static_cast<qsizetype>(std::min(op.headBytes, op.size)));
            ssize_t n = -1;
            do {
                n = ::pread(fd, head.data(), static_cast<size_t>(head.size()), 0);
            } while (n < 0 && errno == EINTR);
            if (n < 0)
                failure = errno;
            head.truncate(n > 0 ? static_cast<qsizetype>(n) : 0);
        }
        if (op.reopened)
            op.reopened(failure, failure == 0 ? head : QByteArray());
        return failure;
    }

    mutable std::mutex mutex;
    std::deque<Op> ops;
    bool running = false;
    bool flowing = false; // writes go to the worker as they come (they wait only at the file's start)
    qint64 queued = 0;    // bytes asked for and not yet written
    int error = 0;        // the first failure; every later write is dropped
    QPointer<QObject> drainReceiver;
    std::function<void()> drainNotify;
    qint64 drainMark = 0;
    // Touched by the worker only.
    std::shared_ptr<Folder> folder;
    int fd;
    bool owned; // the file under the name is this lane's (made or opened again by it)
    qint64 writtenOut;
    qint64 syncedUpTo;
    std::unique_ptr<Sha256> hash;
    bool hashing = false; // hash has taken every byte of the file, in order
};

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

void PartFile::closeAll(bool removeTemporary)
{
    // The name goes on the worker right after the write under way (writes still queued for it are
    // dropped), so the event loop's thread never waits on the folder; a kill before that leaves only a
    // temporary file, which the next run removes.
    if (m_lane) {
        m_lane->forgetNotify();
        if (removeTemporary)
            m_lane->dropWrites();
        Lane::Op close;
        close.kind = Lane::Op::Close;
        if (removeTemporary)
            close.name = encoded(m_tempName);
        m_lane->push(std::move(close));
        m_lane.reset();
    } else if (removeTemporary && m_dir && !m_tempName.isEmpty()) {
        // A flushed file that did not get its name.
        diskwork::writePool().start([folder = m_dir, name = encoded(m_tempName)] {
            if (const int dirFd = folder->fd.load(); dirFd >= 0)
                ::unlinkat(dirFd, name.constData(), 0);
        });
    }
    m_dir.reset();
    m_open = false;
}

bool PartFile::open(const QString &folder)
{
    discard();
    m_folder = folder;
    // The folder is opened and the file made on the worker, before the first write: looking up the path
    // and creating the file wait on the disk and the file system's journal, which the event loop's thread
    // must not. A failure of either shows in the next write or the flush.
    m_dir = std::make_shared<Folder>(encoded(folder));
    const QString name = QStringLiteral("%1%2-%3")
                             .arg(QLatin1String(Prefix))
                             .arg(::getpid())
                             .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0'));
    m_lane = std::make_shared<Lane>(m_dir, -1, 0);
    Lane::Op create;
    create.kind = Lane::Op::Create;
    create.name = encoded(name);
    m_lane->push(std::move(create));
    m_open = true;
    m_tempName = name;
    m_written = 0;
    m_flushed = false;
    return true;
}

bool PartFile::reopen(const QString &folder, const QString &temporaryName, qint64 size, qint64 headBytes,
                      QObject *receiver, std::function<void(bool ok, const QByteArray &head)> done)
{
    discard();
    if (!temporaryName.startsWith(QLatin1String(Prefix)) || !IsPlainFileName(temporaryName) || size < 0)
        return false;
    m_folder = folder;
    // Opening the folder and the file and reading wait on the disk: the worker does them all, before any
    // write that follows; a folder that cannot be opened is a file that is gone.
    m_dir = std::make_shared<Folder>(encoded(folder));
    QPointer<QObject> guard(receiver);
    m_lane = std::make_shared<Lane>(m_dir, -1, size);
    Lane::Op op;
    op.kind = Lane::Op::Reopen;
    op.name = encoded(temporaryName);
    op.size = size;
    op.headBytes = headBytes;
    op.reopened = [guard, done = std::move(done)](int error, const QByteArray &head) {
        diskwork::postToReceiver(guard, [done, error, head] { done(error == 0, head); });
    };
    m_lane->push(std::move(op));
    m_open = true;
    m_tempName = temporaryName;
    m_written = size;
    m_flushed = false;
    return true;
}

bool PartFile::write(const char *data, qint64 length)
{
    return write(QByteArray(data, static_cast<qsizetype>(length)));
}

bool PartFile::write(const QByteArray &data)
{
    if (!m_lane || !m_open)
        return false;
    if (const int error = m_lane->lastError(); error != 0) {
        setError(error);
        return false;
    }
    if (data.isEmpty())
        return true;
    Lane::Op op;
    op.data = data;
    m_lane->push(std::move(op));
    m_written += data.size();
    return true;
}

QByteArray PartFile::buffer(qsizetype size)
{
    return diskwork::spareBuffers().take(size);
}

qint64 PartFile::backlog() const
{
    return m_lane ? m_lane->backlog() : 0;
}

void PartFile::whenBacklogBelow(qint64 bytes, QObject *receiver, std::function<void()> notify)
{
    if (m_lane)
        m_lane->notifyBelow(bytes, receiver, std::move(notify));
    else
        QMetaObject::invokeMethod(receiver, std::move(notify), Qt::QueuedConnection);
}

void PartFile::setError(int error)
{
    m_errorCode = error;
    m_error = systemError(error);
}

int PartFile::errorCode() const
{
    if (m_lane) {
        if (const int error = m_lane->lastError(); error != 0)
            return error;
    }
    return m_errorCode;
}

QString PartFile::errorText() const
{
    if (m_lane) {
        if (const int error = m_lane->lastError(); error != 0)
            return systemError(error);
    }
    return m_error;
}

void PartFile::removeKept(const QString &folder, const QString &temporaryName)
{
    if (!temporaryName.startsWith(QLatin1String(Prefix)) || !IsPlainFileName(temporaryName))
        return;
    // On a worker, as every removal: the folder's journal is not waited for here.
    diskwork::writePool().start([folder = encoded(folder), name = encoded(temporaryName)] {
        const int dirFd = openFolder(folder);
        if (dirFd < 0)
            return;
        struct stat st
        {
        };
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dirFd, name.constData(), 0);
        ::close(dirFd);
    });
}

bool PartFile::truncate()
{
    if (!m_lane || !m_open)
        return false;
    Lane::Op op;
    op.kind = Lane::Op::Truncate;
    m_lane->push(std::move(op));
    m_written = 0;
    return true;
}

void PartFile::flush(QObject *receiver, std::function<void(bool ok, const QString &error)> done)
{
    if (!m_lane || !m_open) {
        done(false, QStringLiteral("no data"));
        return;
    }
    // After the last write the flush takes the file's descriptor; the folder stays with this object.
    QPointer<QObject> guard(receiver);
    Lane::Op op;
    op.kind = Lane::Op::Flush;
    op.flushed = [guard, done](int error, const QByteArray &) {
        const QString text = error == 0 ? QString() : systemError(error);
        diskwork::postToReceiver(guard, [done, error, text] { done(error == 0, text); });
    };
    m_lane->forgetNotify();
    m_lane->push(std::move(op));
    m_lane.reset();
    m_open = false;
    m_flushed = true;
}

qint64 PartFile::flushCount()
{
    return diskwork::flushesMade.load();
}

bool PartFile::waitForDiskWork(int msecs)
{
    QDeadlineTimer deadline(msecs);
    // A flush may hand a removal to the writers and a writer a flush to the flushers: both until quiet.
    for (;;) {
        const bool writes = diskwork::writePool().waitForDone(static_cast<int>(deadline.remainingTime()));
        const bool flushes = diskwork::flushPool().waitForDone(static_cast<int>(deadline.remainingTime()));
        const bool checks = diskwork::checkPool(1).waitForDone(static_cast<int>(deadline.remainingTime()));
        if (!writes || !flushes || !checks)
            return false;
        if (diskwork::writePool().activeThreadCount() == 0 &&
            diskwork::flushPool().activeThreadCount() == 0 && diskwork::checkPool(1).activeThreadCount() == 0)
            return true;
    }
}

void PartFile::setGroupWindow(int milliseconds)
{
    diskwork::groupWindowMs.store(std::max(0, milliseconds));
}

void PartFile::flushSoon()
{
    diskwork::flushGroups().hurry();
}

namespace {

// Whether the file at target in the folder is the one with this identity (not following a link).
bool isFileAt(int dirFd, const QByteArray &target, const FileIdentity &identity)
{
    struct stat st
    {
    };
    return identity.isValid() && ::fstatat(dirFd, target.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           IdentityOfStatus(st) == identity;
}

// Moves temp to target in the folder, replacing a file there only with replace, or while it is the earlier
// copy named (the look and the move are two steps: a file put there between them is replaced, as under
// replace). The identity is taken from the temporary file, which only its own transfer ever held.
PartFile::MoveResult renameInFolder(int dirFd, const QByteArray &temp, const QByteArray &target, bool replace,
                                    const FileIdentity &earlier = {})
{
    PartFile::MoveResult result;
    struct stat st
    {
    };
    if (::fstatat(dirFd, temp.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        result.identity = IdentityOfStatus(st);
    const bool replacing = replace || isFileAt(dirFd, target, earlier);
    int error =
        ::renameat2(dirFd, temp.constData(), dirFd, target.constData(), replacing ? 0 : RENAME_NOREPLACE) == 0
            ? 0
            : errno;
    // File systems without the no-replace move: a hard link fails the same way on a taken name.
    if (error == EINVAL && !replacing) {
        error = ::linkat(dirFd, temp.constData(), dirFd, target.constData(), 0) == 0 ? 0 : errno;
        if (error == 0)
            ::unlinkat(dirFd, temp.constData(), 0);
    }
    result.ok = error == 0;
    result.nameTaken = error == EEXIST && !replacing;
    if (error != 0) {
        result.error = systemError(error);
        result.errorCode = error;
    }
    return result;
}

// The flushed temporary file moved to its name (flushError: how its flush went). Data that gets no name
// is removed here, unless the name was taken: then it waits for another.
PartFile::MoveResult moveFlushed(int dirFd, int flushError, const QByteArray &temp, const QByteArray &target,
                                 bool replace, const FileIdentity &earlier)
{
    PartFile::MoveResult result;
    const int error = flushError != 0 ? flushError : (dirFd < 0 ? EBADF : 0);
    if (error == 0) {
        result = renameInFolder(dirFd, temp, target, replace, earlier);
    } else {
        result.error = systemError(error);
        result.errorCode = error;
    }
    if (!result.ok && !result.nameTaken && dirFd >= 0)
        ::unlinkat(dirFd, temp.constData(), 0);
    return result;
}

// On a worker: the temporary file's verdict when its content starts as a PDF (opened anew, not through a
// link, so the check reads exactly the bytes that were flushed).
PartFile::Check checkIfPdf(PdfChecker &checker, int dirFd, const QByteArray &temp)
{
    PartFile::Check check;
    const int fd = dirFd < 0 ? -1 : ::openat(dirFd, temp.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return check;
    char head[4] = {};
    ssize_t n = -1;
    do {
        n = ::pread(fd, head, sizeof head, 0);
    } while (n < 0 && errno == EINTR);
    if (n == ssize_t(sizeof head) && std::memcmp(head, "%PDF", sizeof head) == 0) {
        check.checked = true;
        check.verdict = checker.check(fd);
    }
    ::close(fd);
    return check;
}

} // namespace

PartFile::MoveResult PartFile::moveTo(const QString &fileName, bool replace)
{
    const int dirFd = m_dir ? m_dir->fd.load() : -1;
    if (dirFd < 0 || m_tempName.isEmpty() || !IsPlainFileName(fileName)) {
        MoveResult result;
        result.error =
            m_tempName.isEmpty() ? QStringLiteral("no data") : QStringLiteral("not a plain file name");
        return result;
    }
    const QByteArray target = encoded(fileName);
    const MoveResult result =
        renameInFolder(dirFd, encoded(m_tempName), target, replace, earlierAt(fileName));
    tookMove(result);
    return result;
}

FileIdentity PartFile::earlierAt(const QString &fileName) const
{
    return fileName == m_earlierName ? m_earlierIdentity : FileIdentity();
}

void PartFile::replaceOnly(const QString &fileName, const FileIdentity &identity)
{
    m_earlierName = fileName;
    m_earlierIdentity = identity;
}

bool PartFile::callOffMove()
{
    return !m_gate || m_gate->callOff();
}

void PartFile::tookMove(const MoveResult &result)
{
    if (result.nameTaken) {
        m_gate.reset(); // the data stays for another name
        m_digest = result.sha256;
        return;
    }
    m_digest.clear();
    if (!result.ok) {
        m_gate.reset();
        discard();
        return;
    }
    // The file has its name: the move can no longer be called off (until this part holds another file).
    m_tempName.clear();
    m_written = 0;
    closeAll(false);
}

std::function<void(int error, const QByteArray &digest, const PartFile::Check &check)>
PartFile::finisher(const QString &fileName, bool replace, QObject *receiver,
                   std::function<void(const MoveResult &result)> done)
{
    QPointer<QObject> guard(receiver);
    std::weak_ptr<bool> alive = m_alive;
    m_gate = std::make_shared<MoveGate>();
    // The worker moves the file in the folder it was made in (the part may let go of it meanwhile).
    const qint64 written = m_written;
    return [this, guard, alive, gate = m_gate, done = std::move(done), folder = m_dir, tempName = m_tempName,
            target = encoded(fileName), replace, earlier = earlierAt(fileName),
            written](int flushError, const QByteArray &digest, const Check &check) {
        // Only bytes that are on the disk ever get the name, and only while the move is not called off.
        const int dirFd = folder->fd.load();
        MoveResult result;
        if (!gate->begin() || check.damaged()) {
            // A damaged file is no paper: its bytes never take the name, and a later copy starts afresh.
            if (dirFd >= 0)
                ::unlinkat(dirFd, encoded(tempName).constData(), 0);
            result.error = check.damaged() ? QStringLiteral("PDF damaged") : QStringLiteral("called off");
        } else {
            result = moveFlushed(dirFd, flushError, encoded(tempName), target, replace, earlier);
        }
        result.pdfChecked = check.checked;
        result.pdf = check.verdict;
        // The digest is of what was written here: a file whose length another program changed meanwhile
        // is not what it names.
        if ((result.ok || result.nameTaken) && result.identity.size == written)
            result.sha256 = digest;
        diskwork::postToReceiver(guard, [this, alive, done, tempName, result] {
            // This object follows the move first, unless it is gone or holds another file by now.
            if (!alive.expired() && m_tempName == tempName)
                tookMove(result);
            done(result);
        });
    };
}

std::function<void(int error, const QByteArray &digest)>
PartFile::mover(const QString &fileName, bool replace, QObject *receiver,
                std::function<void(const MoveResult &result)> done, PdfChecker *checker)
{
    auto finish = finisher(fileName, replace, receiver, std::move(done));
    if (!checker)
        return [finish](int flushError, const QByteArray &digest) { finish(flushError, digest, Check()); };
    // The check waits for a checking process: it runs on a thread of the checks, so flushes and writes of
    // other files go on meanwhile.
    return [finish, checker, folder = m_dir, tempName = m_tempName](int flushError,
                                                                    const QByteArray &digest) {
        if (flushError != 0) {
            finish(flushError, digest, Check());
            return;
        }
        diskwork::checkPool(checker->limits().processes).start([finish, checker, folder, tempName, digest] {
            MarkBackgroundThread();
            finish(0, digest, checkIfPdf(*checker, folder->fd.load(), encoded(tempName)));
        });
    };
}

namespace {

// Whether a move may be asked for; the reason in `refused` when not.
bool mayMove(bool ready, const QString &fileName, PartFile::MoveResult *refused)
{
    if (!ready)
        refused->error = QStringLiteral("no data");
    else if (!IsPlainFileName(fileName))
        refused->error = QStringLiteral("not a plain file name");
    return refused->error.isEmpty();
}

} // namespace

void PartFile::flushAndMove(const QString &fileName, bool replace, QObject *receiver,
                            std::function<void(const MoveResult &result)> done, PdfChecker *checker)
{
    MoveResult refused;
    if (!mayMove(m_lane && m_open && m_dir, fileName, &refused)) {
        done(refused);
        return;
    }
    Lane::Op op;
    op.kind = Lane::Op::Flush;
    op.flushed = mover(fileName, replace, receiver, std::move(done), checker);
    m_lane->forgetNotify();
    m_lane->push(std::move(op));
    m_lane.reset();
    m_open = false;
    m_flushed = true;
}

void PartFile::moveLater(const QString &fileName, bool replace, QObject *receiver,
                         std::function<void(const MoveResult &result)> done)
{
    MoveResult refused;
    if (!mayMove(m_dir && !m_tempName.isEmpty(), fileName, &refused)) {
        done(refused);
        return;
    }
    diskwork::writePool().start(
        [move = mover(fileName, replace, receiver, std::move(done)), digest = m_digest] { move(0, digest); });
}

void PartFile::discard()
{
    m_flushed = false;
    m_digest.clear();
    // A file already on its way to its name is the worker's now: it is not removed under it.
    const bool calledOff = callOffMove();
    m_gate.reset();
    closeAll(calledOff);
    m_tempName.clear();
    m_written = 0;
}

void PartFile::keep()
{
    m_flushed = false;
    m_digest.clear();
    m_gate.reset();
    closeAll(false);
    m_tempName.clear();
    m_written = 0;
}

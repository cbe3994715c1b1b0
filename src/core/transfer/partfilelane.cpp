// The writes of a temporary file, in order, on a worker thread.
#include "core/common/backgroundthread.h"
#include "core/common/disklooks.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/partfile_p.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr qint64 kWriteBackChunk = 8LL * 1024 * 1024;
// Files up to this size are hashed as they are written; the hash of a larger one would hold up its writes
// (hashing is slower than a fast disk), so it is taken from the finished file by whoever wants it.
constexpr qint64 kLargestDigested = 8LL * 1024 * 1024;
// A new file's first writes wait for what follows until this much is asked for, so that a small file is
// written and handed to its flush in one go on the worker; after that every write goes to the worker as
// it comes.
constexpr qint64 kHeldBytes = 256 * 1024;

} // namespace

QByteArray partfiledetail::encoded(const QString &name)
{
    return QFile::encodeName(name);
}

QString partfiledetail::systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int partfiledetail::openFolder(const QByteArray &path)
{
    countDiskLook();
    return ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

PartFile::Lane::Lane(std::shared_ptr<Folder> in, int descriptor, qint64 written)
    : folder(std::move(in)), fd(descriptor), owned(descriptor >= 0), writtenOut(written), syncedUpTo(written)
{
}

PartFile::Lane::~Lane()
{
    if (fd >= 0)
        ::close(fd);
}

void PartFile::Lane::push(Op op)
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

void PartFile::Lane::startLocked()
{
    if (running || ops.empty())
        return;
    running = true;
    diskwork::writePool().start([self = shared_from_this()] {
        MarkBackgroundThread();
        self->run();
    });
}

void PartFile::Lane::dropWrites()
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

qint64 PartFile::Lane::backlog() const
{
    std::lock_guard lock(mutex);
    return queued;
}

int PartFile::Lane::lastError() const
{
    std::lock_guard lock(mutex);
    return error;
}

void PartFile::Lane::notifyBelow(qint64 mark, QObject *receiver, std::function<void()> notify)
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

void PartFile::Lane::forgetNotify()
{
    std::lock_guard lock(mutex);
    drainNotify = nullptr;
    drainReceiver = nullptr;
}

void PartFile::Lane::run()
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

void PartFile::Lane::postDrained()
{
    std::function<void()> notify = std::exchange(drainNotify, nullptr);
    if (notify)
        diskwork::postToReceiver(drainReceiver, std::move(notify));
}

int PartFile::Lane::perform(Op &op)
{
    switch (op.kind) {
    case Op::Create:
        return create(op);
    case Op::Reopen:
        return reopen(op);
    case Op::Write:
        return write(op);
    case Op::Truncate:
        return truncate();
    case Op::Flush:
        handOverForFlush(op);
        return 0;
    case Op::Close:
        close(op);
        return 0;
    }
    return 0;
}

int PartFile::Lane::create(const Op &op)
{
    if (const int failure = folder->open(); failure != 0)
        return failure;
    // A name no other file has: the folder is this program's own temporary namespace, and a file already
    // there under it is never written into.
    fd = ::openat(folder->fd.load(), op.name.constData(),
                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    owned = fd >= 0;
    if (fd < 0)
        return errno;
    startHash();
    return 0;
}

int PartFile::Lane::truncate()
{
    if (fd < 0)
        return 0;
    writtenOut = syncedUpTo = 0;
    hashing = false;
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        return errno;
    startHash(); // the file is empty again: what follows is all of it
    return 0;
}

void PartFile::Lane::close(const Op &op)
{
    if (fd >= 0)
        ::close(std::exchange(fd, -1));
    if (owned && !op.name.isEmpty() && folder->fd.load() >= 0)
        ::unlinkat(folder->fd.load(), op.name.constData(), 0);
    folder.reset(); // closed here when no one else holds it
}

int PartFile::Lane::write(const Op &op)
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

void PartFile::Lane::startHash()
{
    if (hash)
        hash->reset();
    else
        hash = std::make_unique<Sha256>();
    hashing = true;
}

void PartFile::Lane::handOverForFlush(Op &op)
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

int PartFile::Lane::takeReopened(int descriptor, qint64 size)
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

int PartFile::Lane::reopen(const Op &op)
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

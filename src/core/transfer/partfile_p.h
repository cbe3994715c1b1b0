#pragma once
// The private parts of PartFile, shared by its own sources only.

#include "core/common/sha256.h"
#include "core/transfer/partfile.h"

#include <QByteArray>
#include <QPointer>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <unistd.h>

// What a temporary file shares with the workers that make, write, flush, move and remove it.

namespace partfiledetail {

QByteArray encoded(const QString &name);
QString systemError(int error);
// A look up of the folder's path: made on a worker, never on the event loop's thread.
int openFolder(const QByteArray &path);

} // namespace partfiledetail

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
        const int opened = partfiledetail::openFolder(path);
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
    Lane(std::shared_ptr<Folder> in, int descriptor, qint64 written);
    ~Lane();
    void push(Op op);

    // With the mutex held: the worker takes what is queued.
    void startLocked();

    // Drops the writes not yet made (the file is being thrown away).
    void dropWrites();

    qint64 backlog() const;

    int lastError() const;
    void notifyBelow(qint64 mark, QObject *receiver, std::function<void()> notify);

    // No word of the backlog goes out any more (its receiver is going away).
    void forgetNotify();
    void run();

    // With the mutex held.
    void postDrained();

    // The errno of a failure, or 0.
    int perform(Op &op);
    // Makes the file under the name the op gives, in the lane's folder.
    int create(const Op &op);
    // Empties the file (a transfer that starts over).
    int truncate();
    // Closes the file, and removes it when the op names it.
    void close(const Op &op);
    int write(const Op &op);

    // Every byte written from here on goes into the file's digest too.
    void startHash();

    // The file goes to the grouped flush with its descriptor, and its digest with it when the lane wrote
    // all of its content; a write that failed before ends it here.
    void handOverForFlush(Op &op);

    // The file opened again (descriptor, or -1 with errno set) becomes the lane's when it is a plain file;
    // it must hold size bytes.
    int takeReopened(int descriptor, qint64 size);

    // Opens a kept file again to add to it, after reading its start.
    int reopen(const Op &op);

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

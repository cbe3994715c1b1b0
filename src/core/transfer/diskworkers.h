#pragma once

#include "core/common/receiverpost.h"

#include <QByteArray>
#include <QPointer>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// The threads that do the temporary files' disk work, apart from the files themselves: the writers'
// pool, the flushes (grouped when files finish close together) and the read buffers handed back for
// reuse.
namespace diskwork {

// A file to put on the disk; report is called on a worker thread with 0 or an errno.
struct FlushRequest
{
    int fd = -1;
    std::function<void(int error)> report;
};

// Flushes wait on the disk, not on a processor: many may run at once, and the file system then commits
// them together.
QThreadPool &flushPool();
// One lane per file being written, on threads of their own, so the event loop's thread never waits for
// the page cache or the disk.
QThreadPool &writePool();

extern std::atomic<qint64> flushesMade;
extern std::atomic<int> groupWindowMs;

// Files that finish close together are flushed together: the files that finished while the last flush
// ran form the next group, and one flush of their file system puts them all on the disk, after which
// every file reports at once. A file that finds no flush running is flushed at once and by itself, so
// a file alone waits neither for company nor on whatever else the file system holds.
class FlushGroups
{
public:
    using Request = FlushRequest;

    void add(Request request);

private:
    void run();
    static void flushGroup(std::vector<Request> &group);

    std::mutex m_mutex;
    std::vector<Request> m_pending;
    bool m_running = false;
};

FlushGroups &flushGroups();

// Read buffers that the lanes hand back once their bytes are written, for the next reads: a large read
// then neither allocates nor faults in fresh pages on the event loop's thread. Only buffers no one else
// holds any more are handed out again.
class SpareBuffers
{
public:
    static constexpr qsizetype Smallest = 64 * 1024; // below this an allocation is cheap
    static constexpr qsizetype Largest = 1024 * 1024;
    static constexpr size_t Kept = 24;

    QByteArray take(qsizetype size);
    void give(QByteArray &&buffer);

private:
    std::mutex m_mutex;
    std::vector<QByteArray> m_spare;
};

SpareBuffers &spareBuffers();

} // namespace diskwork

#pragma once

#include "core/common/receiverpost.h"

#include <QByteArray>
#include <QPointer>
#include <QThreadPool>
#include <atomic>
#include <chrono>
#include <condition_variable>
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
// The structure checks of finished PDF files, each on its way to its name: no more threads than the
// checker has processes (a thread more would only wait for one), at least one.
QThreadPool &checkPool(int threads);

// Work handed to threads outside these pools (the PDF checks of files on their way to their names) that
// the end of the program waits for as it waits for the pools.
class Underway
{
public:
    void add();
    void done();
    // False when some is still underway after msecs (negative: as long as it takes).
    bool waitForNone(int msecs);

private:
    std::mutex m_mutex;
    std::condition_variable m_none;
    int m_count = 0;
};
Underway &checksUnderway();

extern std::atomic<qint64> flushesMade;
// How long a group gathers files, in milliseconds.
constexpr int DefaultGroupWindowMs = 10;
extern std::atomic<int> groupWindowMs;

// Files that finish close together are flushed together: a group gathers for the window from its first
// file (or until it holds GroupLimit files, or, without a window, while the flush before it runs), one
// flush of their file system puts them all on the disk, and then every file reports at once. A thousand
// small papers thus cost a few flushes, not a thousand; a file alone waits the window at most.
class FlushGroups
{
public:
    using Request = FlushRequest;
    static constexpr size_t GroupLimit = 256;
    static constexpr int HurryMs = DefaultGroupWindowMs;

    void add(Request request);
    // No more files are coming soon: the group gathering now, or one that begins within the window, is
    // flushed without waiting for the rest of its window.
    void hurry();

private:
    void run();
    static void flushGroup(std::vector<Request> &group);

    std::mutex m_mutex;
    std::condition_variable m_full;
    std::vector<Request> m_pending;
    std::chrono::steady_clock::time_point m_firstAt;    // when the first file of m_pending came
    std::chrono::steady_clock::time_point m_hurryUntil; // groups gathering before then do not wait
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

#include "core/transfer/diskworkers.h"

#include "core/common/backgroundthread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

namespace diskwork {

namespace {

QThreadPool *makePool(int threads)
{
    auto *pool = new QThreadPool;
    pool->setMaxThreadCount(threads);
    pool->setExpiryTimeout(5000);
    return pool;
}

} // namespace

QThreadPool &flushPool()
{
    static QThreadPool *pool = makePool(16);
    return *pool;
}

std::atomic<qint64> flushesMade{0};
std::atomic<int> groupWindowMs{DefaultGroupWindowMs};

FlushGroups &flushGroups()
{
    static auto *groups = new FlushGroups;
    return *groups;
}

QThreadPool &writePool()
{
    static QThreadPool *pool = makePool(8);
    return *pool;
}

QThreadPool &checkPool(int threads)
{
    static QThreadPool *pool = makePool(1);
    if (threads > pool->maxThreadCount())
        pool->setMaxThreadCount(threads);
    return *pool;
}

Underway &checksUnderway()
{
    static auto *underway = new Underway;
    return *underway;
}

void Underway::add()
{
    std::lock_guard lock(m_mutex);
    ++m_count;
}

void Underway::done()
{
    std::lock_guard lock(m_mutex);
    if (--m_count == 0)
        m_none.notify_all();
}

bool Underway::waitForNone(int msecs)
{
    std::unique_lock lock(m_mutex);
    if (msecs < 0) { // as long as it takes
        m_none.wait(lock, [this] { return m_count == 0; });
        return true;
    }
    return m_none.wait_for(lock, std::chrono::milliseconds(msecs), [this] { return m_count == 0; });
}

SpareBuffers &spareBuffers()
{
    static auto *spares = new SpareBuffers;
    return *spares;
}

void FlushGroups::add(Request request)
{
    std::lock_guard lock(m_mutex);
    if (m_pending.empty())
        m_firstAt = std::chrono::steady_clock::now();
    m_pending.push_back(std::move(request));
    if (m_pending.size() >= GroupLimit || std::chrono::steady_clock::now() < m_hurryUntil)
        m_full.notify_one();
    if (m_running)
        return;
    m_running = true;
    flushPool().start([this] { run(); });
}

void FlushGroups::hurry()
{
    std::lock_guard lock(m_mutex);
    // A file handed over just now may still be on its lane: the hurry holds for a moment.
    m_hurryUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(HurryMs);
    m_full.notify_one();
}

void FlushGroups::run()
{
    MarkBackgroundThread();
    for (;;) {
        std::vector<Request> group;
        {
            std::unique_lock lock(m_mutex);
            // Nothing came while the last group was flushed: the next file starts a group of its own.
            if (m_pending.empty()) {
                m_running = false;
                return;
            }
            const auto window = std::chrono::milliseconds(groupWindowMs.load());
            m_full.wait_until(lock, m_firstAt + window, [this] {
                return m_pending.size() >= GroupLimit ||
                       (!m_pending.empty() && std::chrono::steady_clock::now() < m_hurryUntil);
            });
            group.swap(m_pending);
        }
        flushGroup(group);
    }
}

void FlushGroups::flushGroup(std::vector<Request> &group)
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

QByteArray SpareBuffers::take(qsizetype size)
{
    if (size >= Smallest && size <= Largest) {
        std::lock_guard lock(m_mutex);
        for (auto it = m_spare.begin(); it != m_spare.end(); ++it) {
            if (it->isDetached() && it->capacity() >= size) {
                QByteArray buffer = std::move(*it);
                m_spare.erase(it);
                buffer.resize(size);
                return buffer;
            }
        }
    }
    return QByteArray(size, Qt::Uninitialized);
}

void SpareBuffers::give(QByteArray &&buffer)
{
    if (buffer.capacity() < Smallest || buffer.capacity() > Largest)
        return;
    std::lock_guard lock(m_mutex);
    if (m_spare.size() < Kept)
        m_spare.push_back(std::move(buffer));
}

} // namespace diskwork

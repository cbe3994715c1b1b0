#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <vector>

// Watches the thread that made it: the thread calls beat() from a short timer, and while no beat has come
// for longer than the threshold, a watcher thread takes the watched thread's stack every few milliseconds
// (a signal makes the thread record where it is). At the end, longest() tells how long the longest gap
// between two beats was and where the thread was during it, so a benchmark that sees a late timer can say
// what the event loop was doing instead.
class StallSampler
{
public:
    explicit StallSampler(int thresholdMs);
    ~StallSampler();
    StallSampler(const StallSampler &) = delete;
    StallSampler &operator=(const StallSampler &) = delete;

    void beat();
    struct Stall
    {
        qint64 ms = 0;
        int samples = 0;
        // The frames seen in most samples first, each with the share of samples it was in.
        QStringList frames;
    };
    Stall longest();

private:
    using Frames = std::vector<void *>;
    void watch();
    bool sample(Frames *frames);
    void stallEnded(qint64 ms);
    static qint64 nowNs();

    const qint64 m_thresholdNs;
    const pthread_t m_target;
    std::atomic<qint64> m_lastBeatNs;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<Frames> m_current; // samples of the gap under way
    std::vector<Frames> m_longestSamples;
    qint64 m_longestMs = 0;
    std::thread m_watcher;
};

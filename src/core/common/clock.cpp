#include "core/common/clock.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <atomic>

namespace {

constexpr qint64 DayMs = 24LL * 3600 * 1000;
// How long a look-up of the local zone's offset is used: each look-up reads the system's zone file again.
constexpr qint64 OffsetKeptMs = 1000;

class SystemClock : public Clock
{
public:
    SystemClock() { m_timer.start(); }
    double secondsSinceMidnight() const override
    {
        const qint64 utcMs = QDateTime::currentMSecsSinceEpoch();
        const qint64 takenMs = m_offsetTakenMs.load(std::memory_order_relaxed);
        qint64 offsetMs = m_offsetMs.load(std::memory_order_relaxed);
        if (utcMs - takenMs >= OffsetKeptMs || utcMs < takenMs) {
            offsetMs = QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc() * 1000LL;
            m_offsetMs.store(offsetMs, std::memory_order_relaxed);
            m_offsetTakenMs.store(utcMs, std::memory_order_relaxed);
        }
        return static_cast<double>(((utcMs + offsetMs) % DayMs + DayMs) % DayMs) / 1000.0;
    }
    qint64 monotonicMs() const override { return m_timer.elapsed(); }

private:
    QElapsedTimer m_timer;
    mutable std::atomic<qint64> m_offsetMs{0};
    mutable std::atomic<qint64> m_offsetTakenMs{-OffsetKeptMs - 1}; // none taken yet
};

SystemClock &systemClock()
{
    static SystemClock clock;
    return clock;
}

Clock *&installed()
{
    static Clock *clock = nullptr;
    return clock;
}

} // namespace

Clock &Clock::current()
{
    Clock *clock = installed();
    return clock ? *clock : systemClock();
}

Clock *Clock::install(Clock *clock)
{
    Clock *previous = installed();
    installed() = clock;
    return previous;
}

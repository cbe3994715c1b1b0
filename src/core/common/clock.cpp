#include "core/common/clock.h"

#include <QElapsedTimer>
#include <QTime>

namespace {

class SystemClock : public Clock
{
public:
    SystemClock() { m_timer.start(); }
    double secondsSinceMidnight() const override
    {
        return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    }
    qint64 monotonicMs() const override { return m_timer.elapsed(); }

private:
    QElapsedTimer m_timer;
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

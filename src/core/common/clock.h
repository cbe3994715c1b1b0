#pragma once

#include <QtGlobal>

// Time as the program reads it. The time of day (seconds since midnight) is what rows and the
// interval compare; waits and watchdogs use the monotonic reading so a wait that crosses midnight
// neither ends early nor hangs. Tests install a clock they can move.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual double secondsSinceMidnight() const = 0;
    virtual qint64 monotonicMs() const = 0;

    static Clock &current();

private:
    // Tests put a clock they can move in place, through the door in the tests' support.
    friend struct ClockSeam;
    // Installs a clock (nullptr restores the system clock); returns the previous one.
    static Clock *install(Clock *clock);
};

class ManualClock : public Clock
{
public:
    double secondsSinceMidnight() const override { return m_dayMs / 1000.0; }
    qint64 monotonicMs() const override { return m_monoMs; }

    void advanceMs(qint64 ms)
    {
        m_monoMs += ms;
        m_dayMs = (m_dayMs + ms) % (24LL * 3600 * 1000);
    }
    void setTimeOfDay(double seconds) { m_dayMs = static_cast<qint64>(seconds * 1000); }

private:
    qint64 m_monoMs = 1'000'000;
    qint64 m_dayMs = 12LL * 3600 * 1000;
};

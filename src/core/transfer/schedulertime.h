#pragma once

#include "core/common/clock.h"

// The two clocks the scheduler's files read.
namespace schedulertime {

// Seconds since midnight on the clock the tests can set.
inline double now()
{
    return Clock::current().secondsSinceMidnight();
}

// Milliseconds on the monotonic clock, for retries, holds and time-outs.
inline qint64 monoNow()
{
    return Clock::current().monotonicMs();
}

} // namespace schedulertime

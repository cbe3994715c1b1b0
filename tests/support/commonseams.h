#pragma once

#include "core/common/clock.h"
#include "core/common/messenger.h"

#include <utility>

// The tests' doors to the clock and the message handler of the program.
struct ClockSeam
{
    // Installs a clock (nullptr restores the system clock); returns the previous one.
    static Clock *install(Clock *clock) { return Clock::install(clock); }
};

struct MessageSeam
{
    // Installs the handler and returns the one it replaces.
    static MessageHandler replace(MessageHandler handler)
    {
        return MessageHandlerSeat::replace(std::move(handler));
    }
};

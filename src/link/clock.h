#pragma once

#include <cstdint>

namespace kt::link
{

// The 32-bit millisecond clock and the sleep of the link; tests put a fake one in.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual std::uint32_t nowMs() = 0;          // wraps to 0 after 2^32 - 1, about every 49.7 days
    virtual void sleepMs(std::uint32_t ms) = 0; // at least ms; handles no events
};

// The machine's monotonic clock and the thread's sleep.
Clock &systemClock();

} // namespace kt::link

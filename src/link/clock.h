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
    // Microseconds from now until nowMs() reads tickMs, 0 once it has (a tick up to 2^31 ms
    // behind counts as reached). A clock that knows no finer time than its milliseconds
    // counts whole ones.
    virtual std::uint64_t microsUntil(std::uint32_t tickMs)
    {
        const auto ahead = static_cast<std::int32_t>(tickMs - nowMs());
        return ahead > 0 ? static_cast<std::uint64_t>(ahead) * 1000u : 0u;
    }
};

// The machine's monotonic clock and the thread's sleep.
Clock &systemClock();

} // namespace kt::link

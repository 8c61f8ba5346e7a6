#include "../clock.h"

#include <cerrno>
#include <time.h>

namespace kt::link
{

namespace
{
class SystemClock final : public Clock
{
public:
    std::uint32_t nowMs() override
    {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        // Truncated to 32 bits on purpose: the link's arithmetic is modulo 2^32.
        const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u
                        + static_cast<std::uint64_t>(ts.tv_nsec) / 1'000'000u;
        return static_cast<std::uint32_t>(ms);
    }

    void sleepMs(std::uint32_t ms) override
    {
        timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1'000'000L};
        // A signal cuts the sleep short; the rest is slept so the pause is never shorter.
        while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
};
} // namespace

Clock &systemClock()
{
    static SystemClock clock;
    return clock;
}

} // namespace kt::link

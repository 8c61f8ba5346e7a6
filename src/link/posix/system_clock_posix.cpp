#include "../clock.h"

#include <cerrno>
#include <time.h>
#if __has_include(<sys/prctl.h>)
#include <sys/prctl.h>
#endif

namespace kt::link
{

namespace
{
// Linux lets a sleep end up to the thread's timer slack late (50 us by default), so that
// wake-ups can be grouped. The link's pauses are short and many: four 1 ms pauses in every
// frame, to which the slack alone would add 5 %. The thread that sleeps for the link takes the
// smallest slack there is at its first pause and keeps it: its other timers (the window's
// blink, its waits) gain the same precision, and a pause costs no system call besides its
// sleep. Setting and restoring it around every pause cost two more, on a line where each
// frame has four.
void usePreciseTimerSlack()
{
#ifdef PR_SET_TIMERSLACK
    thread_local const bool set = ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) == 0;
    (void)set;
#endif
}

// The machine's monotonic clock in microseconds.
std::uint64_t monotonicMicros()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000u
           + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

class SystemClock final : public Clock
{
public:
    // Truncated to 32 bits on purpose: the link's arithmetic is modulo 2^32.
    std::uint32_t nowMs() override { return static_cast<std::uint32_t>(monotonicMicros() / 1000u); }

    std::uint64_t microsUntil(std::uint32_t tickMs) override
    {
        const std::uint64_t now = monotonicMicros();
        const auto ahead =
            static_cast<std::int32_t>(tickMs - static_cast<std::uint32_t>(now / 1000u));
        if (ahead <= 0)
            return 0;
        return static_cast<std::uint64_t>(ahead) * 1000u - now % 1000u;
    }

    void sleepMs(std::uint32_t ms) override
    {
        usePreciseTimerSlack();
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

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
// frame and eighty before every card poll, to which the slack alone would add 5 %. For the
// length of a pause the slack is the smallest there is; the thread's own is put back after.
// The thread's own is read at its first pause only: two system calls a pause, not three.
class PreciseTimerSlack
{
public:
#ifdef PR_SET_TIMERSLACK
    PreciseTimerSlack()
    {
        thread_local const int own = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        m_saved = own;
        if (m_saved > 1)
            ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    }
    ~PreciseTimerSlack()
    {
        if (m_saved > 1)
            ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(m_saved), 0, 0, 0);
    }

private:
    int m_saved = 0;
#endif
};

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
        const PreciseTimerSlack precise;
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

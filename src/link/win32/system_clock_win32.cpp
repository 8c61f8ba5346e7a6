#include "../clock.h"

#include <windows.h> // with mmsystem.h: timeGetTime, timeBeginPeriod

namespace kt::link
{

namespace
{
class SystemClock final : public Clock
{
public:
    // Milliseconds since the system started, wrapping after 2^32 as the link expects.
    std::uint32_t nowMs() override { return ::timeGetTime(); }

    // The system timer ticks every 15.6 ms by default, which would stretch each 1 ms pause of
    // the write pacing to a whole tick; it runs at 1 ms for the length of the pause only.
    // Sleep(INFINITE) never returns, so the longest finite pause is one millisecond less.
    void sleepMs(std::uint32_t ms) override
    {
        const bool fineTimer = ::timeBeginPeriod(1) == TIMERR_NOERROR;
        ::Sleep(ms == INFINITE ? INFINITE - 1 : ms);
        if (fineTimer)
            ::timeEndPeriod(1);
    }
};
} // namespace

Clock &systemClock()
{
    static SystemClock clock;
    return clock;
}

} // namespace kt::link

#include "../clock.h"
#include "../event_wait.h"

#include <memory>

namespace kt::link
{

namespace
{
// A port on Windows has no descriptor to wait on (readableDescriptor() gives none), so the
// wait is a sleep on the system clock, whose pauses keep the timer at 1 ms.
class SleepWait final : public EventWait
{
public:
    void waitFor(std::uint32_t ms, std::optional<int> /*readable*/) override
    {
        systemClock().sleepMs(ms);
    }
};
} // namespace

std::unique_ptr<EventWait> makeSystemWait()
{
    return std::make_unique<SleepWait>();
}

} // namespace kt::link

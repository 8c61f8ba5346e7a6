#include "poll_wait.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <poll.h>

namespace kt::link
{

void PollWait::waitFor(std::uint32_t ms, std::optional<int> readable)
{
    pollfd port{readable.value_or(-1), POLLIN, 0};
    // poll() sleeps at least the time-out; what it reports is left to the port's own read.
    (void)::poll(&port, readable ? 1 : 0, static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX)));
}

void PollWait::waitForMicros(std::uint64_t us, std::optional<int> readable)
{
    pollfd port{readable.value_or(-1), POLLIN, 0};
    const timespec time{static_cast<time_t>(us / 1'000'000u),
                        static_cast<long>(us % 1'000'000u) * 1000L};
    (void)::ppoll(&port, readable ? 1 : 0, &time, nullptr);
}

std::unique_ptr<EventWait> makeSystemWait()
{
    return std::make_unique<PollWait>();
}

} // namespace kt::link

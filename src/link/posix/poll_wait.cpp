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

std::unique_ptr<EventWait> makeSystemWait()
{
    return std::make_unique<PollWait>();
}

} // namespace kt::link

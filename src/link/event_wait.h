#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

namespace kt::link
{

// How the link's thread waits: asleep, with the front end's events (a click, a timer, a
// signal) handled as they arrive. The window waits in its event loop; kt4500ctl and the tests
// have plain ones.
class EventWait
{
public:
    virtual ~EventWait() = default;
    // Returns once ms milliseconds have passed or, with a descriptor given, once it has input
    // or has hung up, whichever comes first; it may return earlier, so a caller looks at the
    // clock and the port again. 0 ms: the events already pending are handled, then it returns.
    virtual void waitFor(std::uint32_t ms, std::optional<int> readable) = 0;
    // The same for a time in microseconds, as exact as the wait can be; by default rounded up
    // to whole milliseconds. It may end before the time, and the caller comes back for the rest.
    virtual void waitForMicros(std::uint64_t us, std::optional<int> readable)
    {
        const std::uint64_t ms = (us + 999u) / 1000u;
        waitFor(static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, UINT32_MAX)), readable);
    }
    // true once the front end wants the operation in progress to end (kt4500ctl after a
    // signal): from then on the link sends nothing, and its waits and transactions return at
    // once as failed. Asked after every wait.
    virtual bool stopRequested() const { return false; }
};

// The wait of a program with no event loop behind it, as the system provides it: asleep on
// the port or on nothing, ended early by a signal where the system has them.
std::unique_ptr<EventWait> makeSystemWait();

} // namespace kt::link

#pragma once

#include "../event_wait.h"

namespace kt::link
{

// A wait with no event loop behind it: poll() on the port, or on nothing. A signal ends it
// early, SA_RESTART or not, so a program that notes its signals in a flag sees them at once.
class PollWait final : public EventWait
{
public:
    void waitFor(std::uint32_t ms, std::optional<int> readable) override;
    void waitForMicros(std::uint64_t us, std::optional<int> readable) override;
};

} // namespace kt::link

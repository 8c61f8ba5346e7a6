#pragma once

#include "link/event_wait.h"

namespace kt::app
{

// The window's wait: its event loop runs until a precise timer ends the wait or the port has
// input, so clicks and the busy blink are handled as they come while the thread sleeps.
class QtEventWait final : public link::EventWait
{
public:
    void waitFor(std::uint32_t ms, std::optional<int> readable) override;
};

} // namespace kt::app

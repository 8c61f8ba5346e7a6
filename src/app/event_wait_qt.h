#pragma once

#include "link/event_wait.h"

#include <memory>

namespace kt::app
{

// The window's wait: its event loop runs until a precise timer ends the wait or the port has
// input, so clicks and the busy blink are handled as they come while the thread sleeps.
class QtEventWait final : public link::EventWait
{
public:
    QtEventWait();
    ~QtEventWait() override;
    void waitFor(std::uint32_t ms, std::optional<int> readable) override;
    // Whole milliseconds in the event loop, then what is left of the last one asleep on the
    // port alone: Qt's timers count no finer.
    void waitForMicros(std::uint64_t us, std::optional<int> readable) override;

private:
    std::unique_ptr<link::EventWait> m_systemWait;
};

} // namespace kt::app

#pragma once

#include <memory>

namespace kt::app
{

class Beeper
{
public:
    virtual ~Beeper() = default;
    // Sounds the tone and returns when it has ended. Where no sound device can be opened, or
    // the frequency cannot be sounded, it waits just as long in silence, so the window's timing
    // stays the same. A duration of 0 ms or less returns at once.
    virtual void beep(int frequencyHz, int durationMs) = 0;
};

// ALSA's default device on Linux, Beep() on Windows.
std::unique_ptr<Beeper> makeSystemBeeper();

} // namespace kt::app

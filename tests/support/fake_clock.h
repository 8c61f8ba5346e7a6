#pragma once

#include "link/clock.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kt::test
{

// A millisecond clock that moves only when told: on sleepMs(), on advance(), and (through
// FakeDevice) by 1 ms on every read that finds no byte. Start it just below 0xFFFFFFFF to
// test the wrap.
class FakeClock final : public link::Clock
{
public:
    explicit FakeClock(std::uint32_t startMs = 1000)
        : m_now(startMs)
    {
    }

    std::uint32_t nowMs() override { return m_now; }
    void sleepMs(std::uint32_t ms) override
    {
        m_sleeps.push_back(ms);
        m_now += ms; // wraps modulo 2^32 like the real one
        if (!takePacedWrite() && m_sink)
            m_sink->push_back("sleep " + std::to_string(ms));
    }

    void advance(std::uint32_t ms) { m_now += ms; }
    const std::vector<std::uint32_t> &sleeps() const { return m_sleeps; }

    // Every sleep becomes the event "sleep <ms>" in sink, except the pacing pause the link
    // makes after each write (see pacedWrite()).
    void recordSleepsInto(std::vector<std::string> *sink) { m_sink = sink; }
    // Called by a fake port on each write: the sleep or wait that follows is the link's pacing
    // of the line, not a pause of its caller, and is not recorded.
    void pacedWrite() { m_linePacing = true; }
    // Whether a write came since the last sleep or wait; asking forgets it.
    bool takePacedWrite() { return std::exchange(m_linePacing, false); }

private:
    std::uint32_t m_now;
    std::vector<std::uint32_t> m_sleeps;
    std::vector<std::string> *m_sink = nullptr;
    bool m_linePacing = false;
};

} // namespace kt::test

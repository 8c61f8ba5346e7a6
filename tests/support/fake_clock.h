#pragma once

#include "link/clock.h"

#include <cstdint>
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
    }

    void advance(std::uint32_t ms) { m_now += ms; }
    const std::vector<std::uint32_t> &sleeps() const { return m_sleeps; }

private:
    std::uint32_t m_now;
    std::vector<std::uint32_t> m_sleeps;
};

} // namespace kt::test

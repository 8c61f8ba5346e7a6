#pragma once

// The front end's wait on a FakeClock: it moves the clock instead of sleeping, to the end of
// the wait or, when the link waits for the port, to the moment the port's next byte or
// hang-up is due if that comes first. What a test wants to happen during a pause (a click)
// it queues for the n-th pause.

#include "fake_clock.h"
#include "link/event_wait.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kt::test
{

class FakeWait final : public link::EventWait
{
public:
    // Pauses are recorded as "wait <ms>" into sink, when one is given.
    explicit FakeWait(FakeClock &clock, std::vector<std::string> *sink = nullptr)
        : m_clock(clock)
        , m_sink(sink)
    {
    }

    // When the port is next readable, as an absolute fake time; nullopt: not before the end.
    void watchPort(std::function<std::optional<std::uint32_t>()> readyAt)
    {
        m_readyAt = std::move(readyAt);
    }
    // Runs action at the start of the n-th pause (1-based, nested ones counted too); several
    // actions for one pause run in the order queued.
    void atPause(int n, std::function<void()> action) { m_atPause.emplace(n, std::move(action)); }
    // Runs at every wait for the port and every pass over pending events, as the window's
    // events are handled then.
    std::function<void()> onPortWait;
    // Runs at the start of every pause, after what atPause queued for it.
    std::function<void()> onPause;

    // Non-zero: a pause's wait ends after at most this long, as a signal cuts it short.
    std::uint32_t pauseStepMs = 0;
    // What stopRequested() answers: set it from an action to end the run, as a signal does.
    bool stop = false;

    int pauses = 0;
    int pacingWaits = 0; // the link's waits right after a write: the frame's pacing, no pause
    int portWaits = 0;
    std::vector<std::uint32_t> portWaitMs; // the length each wait for the port was given

    // Runs as every wait of the frame's pacing ends, as the window's events are handled then.
    std::function<void()> onPacing;

    void waitFor(std::uint32_t ms, std::optional<int> readable) override
    {
        if (!readable && ms > 0 && m_clock.takePacedWrite()) {
            ++pacingWaits;
            m_clock.advance(pauseStepMs != 0 ? std::min(ms, pauseStepMs) : ms);
            if (onPacing)
                onPacing();
            return;
        }
        if (!readable && ms > 0) {
            ++pauses;
            if (m_sink)
                m_sink->push_back("wait " + std::to_string(ms));
            const auto [first, last] = m_atPause.equal_range(pauses);
            std::vector<std::function<void()>> actions;
            for (auto it = first; it != last; ++it)
                actions.push_back(it->second);
            for (const auto &action : actions)
                action();
            if (onPause)
                onPause();
            m_clock.advance(pauseStepMs != 0 ? std::min(ms, pauseStepMs) : ms);
            return;
        }
        ++portWaits;
        portWaitMs.push_back(ms);
        if (onPortWait)
            onPortWait();
        std::uint32_t step = ms;
        if (const std::optional<std::uint32_t> at =
                readable && m_readyAt ? m_readyAt() : std::nullopt) {
            // Signed distance: a moment already reached wakes at once, across the wrap too.
            const auto ahead = static_cast<std::int32_t>(*at - m_clock.nowMs());
            step = std::min<std::uint32_t>(ms, static_cast<std::uint32_t>(std::max(ahead, 0)));
        }
        m_clock.advance(step);
    }

    bool stopRequested() const override { return stop; }

private:
    FakeClock &m_clock;
    std::vector<std::string> *m_sink;
    std::function<std::optional<std::uint32_t>()> m_readyAt;
    std::multimap<int, std::function<void()>> m_atPause;
};

} // namespace kt::test

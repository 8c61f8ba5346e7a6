#pragma once

#include "fake_clock.h"
#include "link/serial_device.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt::test
{

// A serial port on a FakeClock. Replays scripted input bytes, each readable from a given
// fake time on; records every write with the fake time it happened at; can refuse opens and
// hang up. A read with no byte due moves the clock by 1 ms, as the real port's wait does.
class FakeDevice final : public link::SerialDevice
{
public:
    struct Write {
        std::uint32_t atMs;
        std::string bytes;
    };

    explicit FakeDevice(FakeClock &clock)
        : m_clock(clock)
    {
    }

    // --- script ---
    // The bytes become readable at the absolute fake time atMs (modulo 2^32).
    void input(std::string_view bytes, std::uint32_t atMs)
    {
        for (char c : bytes)
            m_input.push_back({atMs, static_cast<std::uint8_t>(c)});
    }
    // The bytes become readable delayMs after the clock's present reading.
    void inputIn(std::string_view bytes, std::uint32_t delayMs)
    {
        input(bytes, m_clock.nowMs() + delayMs);
    }
    // Called with each complete command frame (TAB .. CR) once its CR is written: a
    // scripted reader answers from here, e.g. with inputIn().
    void onFrame(std::function<void(std::string_view frame)> responder)
    {
        m_responder = std::move(responder);
    }
    // From atMs on every read fails, as on an unplugged converter (bytes due before it are
    // still read).
    void hangUpAt(std::uint32_t atMs) { m_hangUpAt = atMs; }
    // Models the line's speed: every byte read moves the clock on by this much.
    void setByteTimeMs(std::uint32_t ms) { m_byteTimeMs = ms; }
    // The next opens fail (nothing is held afterwards).
    void setOpenSucceeds(bool succeeds) { m_openSucceeds = succeeds; }
    // false: the port offers no descriptor to wait on, as on Windows.
    void setHasDescriptor(bool has) { m_hasDescriptor = has; }

    // --- what happened ---
    const std::vector<Write> &writes() const { return m_writes; }
    std::string written() const
    {
        std::string all;
        for (const auto &w : m_writes)
            all += w.bytes;
        return all;
    }
    int openCalls() const { return m_openCalls; }
    int closeCalls() const { return m_closeCalls; }
    int lastPortNumber() const { return m_lastPortNumber; }
    const std::string &lastLineSettings() const { return m_lastLineSettings; }
    int emptyReads() const { return m_emptyReads; }
    std::size_t pendingInput() const { return m_input.size(); }
    // When a wait for input ends: the next byte or the hang-up, whichever is due first.
    std::optional<std::uint32_t> readyAt() const
    {
        std::optional<std::uint32_t> at = m_hangUpAt;
        if (!m_input.empty() && (!at || static_cast<std::int32_t>(m_input.front().atMs - *at) < 0))
            at = m_input.front().atMs;
        return at;
    }

    // --- SerialDevice ---
    bool open(int portNumber, std::string_view lineSettings) override
    {
        ++m_openCalls;
        if (m_open || !m_openSucceeds)
            return false;
        m_open = true;
        m_lastPortNumber = portNumber;
        m_lastLineSettings = lineSettings;
        return true;
    }
    void close() override
    {
        ++m_closeCalls;
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    std::optional<int> readableDescriptor() const override
    {
        return m_open && m_hasDescriptor ? std::optional(kDescriptor) : std::nullopt;
    }

    bool write(std::span<const std::uint8_t> bytes) override
    {
        if (!m_open)
            return false;
        std::string text(bytes.begin(), bytes.end());
        m_writes.push_back({m_clock.nowMs(), text});
        m_clock.pacedWrite();
        for (char c : text) {
            m_frame += c;
            if (c == '\r') {
                const std::string frame = std::move(m_frame);
                m_frame.clear();
                if (m_responder)
                    m_responder(frame);
            }
        }
        return true;
    }

    // Drops the bytes due by now; those scripted for later still come.
    void discardInput() override
    {
        ++m_discards;
        if (!m_open)
            return;
        std::erase_if(m_input, [this](const Pending &p) { return reached(p.atMs); });
    }
    int discards() const { return m_discards; }

    link::ReadResult readByte(std::uint8_t &byte) override
    {
        if (!m_open)
            return link::ReadResult::Failed;
        if (!m_input.empty() && reached(m_input.front().atMs)) {
            byte = m_input.front().byte;
            m_input.pop_front();
            m_clock.advance(m_byteTimeMs);
            return link::ReadResult::Byte;
        }
        if (m_hangUpAt && reached(*m_hangUpAt))
            return link::ReadResult::Failed;
        ++m_emptyReads;
        m_clock.advance(1);
        return link::ReadResult::Empty;
    }

    static constexpr int kDescriptor = 1000; // stands for the port in FakeWait's calls

private:
    struct Pending {
        std::uint32_t atMs;
        std::uint8_t byte;
    };

    // Whether the clock has reached atMs, right across the wrap of the 32-bit clock.
    bool reached(std::uint32_t atMs) const
    {
        return static_cast<std::int32_t>(m_clock.nowMs() - atMs) >= 0;
    }

    FakeClock &m_clock;
    std::deque<Pending> m_input;
    std::function<void(std::string_view)> m_responder;
    std::optional<std::uint32_t> m_hangUpAt;
    std::uint32_t m_byteTimeMs = 0;
    bool m_openSucceeds = true;
    bool m_hasDescriptor = true;
    bool m_open = false;
    std::vector<Write> m_writes;
    std::string m_frame;
    int m_openCalls = 0;
    int m_closeCalls = 0;
    int m_lastPortNumber = 0;
    std::string m_lastLineSettings;
    int m_emptyReads = 0;
    int m_discards = 0;
};

} // namespace kt::test

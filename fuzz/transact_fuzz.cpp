// The reply side of a transaction: whatever a reader, a converter or line noise puts on the
// line, transact() ends, never reads or writes outside its buffer, and only hands a checked
// frame to its caller, whose field accessors then take it apart as the operations do.
//
// Input: four header bytes, then the line script.
//   0  which command is sent (one of the tool's own)
//   1  how many transactions run on the one open port (1..4): a reply left over from one is
//      read by the next
//   2  where the millisecond clock starts: just below its wrap, or just below 2^31
//   3  how long one byte takes on the line, 0..3 ms
//   then bytes as they arrive, with 0xFE as escape:
//   FE 00  a data byte FE             FE FE  the next events handled start a nested transaction
//   FE FF  the port hangs up          FE n   the line stays silent for n ms (1..FD)

#include "fuzz_support.h"
#include "link/clock.h"
#include "link/commands.h"
#include "link/frame.h"
#include "link/hex.h"
#include "link/reader_link.h"
#include "link/serial_device.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace
{

using kt::fuzz::require;
using kt::link::ReadResult;

constexpr std::uint8_t kEscape = 0xFE;
constexpr std::uint8_t kNestedMark = 0xFE;
constexpr std::uint8_t kHangUpMark = 0xFF;

// A wait longer than this after the script has run out would be a hang.
constexpr std::uint32_t kMostEmptyReadsAfterScript = kt::link::kReplyWindowMs + 2;

class ScriptClock final : public kt::link::Clock
{
public:
    std::uint32_t nowMs() override { return now; }
    void sleepMs(std::uint32_t ms) override { now += ms; }

    std::uint32_t now = 0;
};

class ScriptPort final : public kt::link::SerialDevice
{
public:
    ScriptPort(ScriptClock &clock, std::string_view script, std::uint32_t byteTimeMs)
        : m_clock(clock)
        , m_script(script)
        , m_byteTimeMs(byteTimeMs)
    {
    }

    bool open(int, std::string_view) override { return m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    // The script's bytes arrive only once the frame has gone out: nothing waits before it.
    void discardInput() override {}
    bool write(std::span<const std::uint8_t> bytes) override
    {
        written.append(bytes.begin(), bytes.end());
        return true;
    }

    ReadResult readByte(std::uint8_t &byte) override
    {
        require(m_open, "read from a closed port");
        if (m_hungUp)
            return ReadResult::Failed;
        while (m_silentMs == 0 && m_at < m_script.size()) {
            const auto c = static_cast<std::uint8_t>(m_script[m_at++]);
            if (c != kEscape || m_at == m_script.size()) {
                byte = c;
                m_clock.now += m_byteTimeMs;
                return ReadResult::Byte;
            }
            const auto mark = static_cast<std::uint8_t>(m_script[m_at++]);
            if (mark == 0x00) {
                byte = kEscape;
                m_clock.now += m_byteTimeMs;
                return ReadResult::Byte;
            }
            if (mark == kHangUpMark) {
                m_hungUp = true;
                return ReadResult::Failed;
            }
            if (mark == kNestedMark)
                nestedPending = true;
            else
                m_silentMs = mark;
        }
        if (m_silentMs > 0)
            --m_silentMs;
        else
            ++emptyReadsAfterScript;
        m_clock.now += 1;
        return ReadResult::Empty;
    }

    std::string written;
    bool nestedPending = false;
    std::uint32_t emptyReadsAfterScript = 0;

private:
    ScriptClock &m_clock;
    std::string_view m_script;
    std::uint32_t m_byteTimeMs;
    std::size_t m_at = 0;
    std::uint32_t m_silentMs = 0;
    bool m_open = false;
    bool m_hungUp = false;
};

// The port has no descriptor, so the link reads 1 ms at a time and handles the pending events
// after each empty read, as on a port without one. A wait with a time (the frame's block
// pause) lets that time pass.
class NestingWait final : public kt::link::EventWait
{
public:
    NestingWait(ScriptClock &clock, std::function<void()> events)
        : m_clock(clock)
        , m_events(std::move(events))
    {
    }
    void waitFor(std::uint32_t ms, std::optional<int>) override
    {
        m_events();
        m_clock.now += ms;
    }

private:
    ScriptClock &m_clock;
    std::function<void()> m_events;
};

constexpr std::array<std::string_view, 8> kCommands = {
    "A00B", "A00V", "A00A", "A00F", "A00A121", "A00C1234567807", "A00E5", "A00EB"};

// What the operations read from a reply the link accepted.
void takeApart(const std::string &reply)
{
    using namespace kt::link;
    for (auto field : {readerIdField(reply), serialNumberField(reply), versionField(reply),
                       outputModeField(reply), wiegandFormatField(reply), rs485FormatField(reply),
                       cardNumberField(reply)}) {
        require(field.empty()
                    || (field.data() >= reply.data()
                        && field.data() + field.size() <= reply.data() + reply.size()),
                "a reply field lies inside the reply");
        if (const auto value = decimalField(field))
            require(*value >= 0, "a decimal field is not negative");
    }
    (void)hexToInt(cardNumberField(reply));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kt::fuzz::silenceLog();
    if (size < 4)
        return 0;
    const std::string_view command = kCommands[data[0] % kCommands.size()];
    const int transactions = 1 + data[1] % 4;
    ScriptClock clock;
    clock.now = ((data[2] & 1) != 0 ? 0x7FFFFF00u : 0xFFFFFF00u) + (data[2] >> 1);
    ScriptPort port(clock, kt::fuzz::textOf(data + 4, size - 4), data[3] % 4u);

    kt::link::ReaderLink *linkPointer = nullptr;
    NestingWait wait(clock, [&] {
        if (!port.nestedPending)
            return;
        port.nestedPending = false;
        // A transaction started from the events handled while one waits must be refused.
        require(!linkPointer->transact("A00B"), "a nested transaction was refused");
    });
    kt::link::ReaderLink link(port, clock, &wait);
    linkPointer = &link;
    require(link.openPort(1, "19200,e,8,1"), "the scripted port opens");

    for (int i = 0; i < transactions; ++i) {
        port.written.clear();
        port.emptyReadsAfterScript = 0;
        const std::string before = link.lastReply();
        const bool ok = link.transact(command);

        require(port.written == kt::link::commandFrame(command), "the command frame is sent");
        require(port.emptyReadsAfterScript <= kMostEmptyReadsAfterScript,
                "a silent line ends the transaction within its window");
        require(link.replyLength() >= 0
                    && link.replyLength() < static_cast<int>(kt::link::kReceiveBufferSize),
                "the reply length stays inside the buffer");
        const std::string &reply = link.lastReply();
        if (ok) {
            require(link.replyLength() >= 4, "an accepted reply has room for its checksum");
            require(!reply.empty() && reply.front() == '\n', "an accepted reply starts with LF");
            if (reply.size() == static_cast<std::size_t>(link.replyLength())) {
                require(reply.back() == '\r', "an accepted reply ends with CR");
                require(kt::link::checkFrame(reply), "an accepted reply has a right checksum");
            }
            takeApart(reply);
        } else if (reply != before) {
            // A rejected frame may replace the last reply; it still came from the line.
            require(reply.empty() || reply.front() == '\n', "a stored frame starts with LF");
        }
    }
    link.closePort();
    return 0;
}

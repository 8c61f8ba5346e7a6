#pragma once

#include "clock.h"
#include "event_wait.h"
#include "serial_device.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kt::link
{

constexpr std::size_t kReceiveBufferSize = 1024;
constexpr std::uint32_t kReplyWindowMs = 120;
constexpr std::uint32_t kBytePauseMs = 1;
constexpr std::uint32_t kBlockPauseMs = 5;

// The one serial link of the process: the port, the receive buffer, LastReply and
// ReplyLength. Everything runs on the caller's thread.
class ReaderLink
{
public:
    // Without a wait, pauses sleep on the clock and a reply is waited for by 1 ms reads, with
    // no events handled meanwhile.
    ReaderLink(SerialDevice &device, Clock &clock, EventWait *wait = nullptr);

    // true when the port opened. A failed open leaves an already open port as it was.
    [[nodiscard]] bool openPort(int portNumber, std::string_view lineSettings);
    void closePort();
    [[nodiscard]] bool isOpen() const;
    // Why the last openPort() failed; kind None after one that succeeded.
    const OpenError &openError() const { return m_device.openError(); }

    // One byte, then a 1 ms pause.
    void writeByte(std::uint8_t value);
    // One write of all the bytes (0 to 255 of them; 0 writes nothing), then a 5 ms pause in
    // which the window's events are handled.
    void writeBlock(std::span<const std::uint8_t> bytes);

    // Sends the framed command and waits up to about 120 ms for a reply frame, asleep until a
    // byte comes, the port hangs up or the window has closed, with the window's events handled
    // as they arrive, and at least every 10 ms while bytes keep coming. Bytes that never form
    // a frame are cut off once the receive buffer could have filled at the line's speed and
    // the window is over. true: a complete frame with a right checksum arrived; lastReply()
    // and replyLength() describe it. false: time-out (lastReply() kept), a wrong checksum
    // (lastReply() holds the rejected frame), a hung-up port, a stream cut off, or a stop the
    // wait asked for (nothing is sent once it has).
    [[nodiscard]] bool transact(std::string_view command);

    // At least ms milliseconds, with the window's events handled as they arrive; ends at once
    // when the wait asks for a stop.
    void pause(std::uint32_t ms);

    const std::string &lastReply() const { return m_lastReply; }
    int replyLength() const { return m_replyLength; }
    // true while the exchange in progress still takes in bytes after its reply window has
    // closed: no reply comes that late, the line babbles and only the cut-off would end it.
    // Asked from the wait's events.
    bool inStream() const { return m_transacting && m_streaming; }

    Clock &clock() { return m_clock; }
    void setEventWait(EventWait *wait) { m_wait = wait; }

private:
    bool runTransaction(std::string_view command);
    // Waits and remembers when; false when the wait asks for a stop.
    bool waitFor(std::uint32_t ms, std::optional<int> readable);
    bool afterWait();
    void blockPause();
    // At least ms with the events handled; a stop asked for meanwhile ends it, or is slept
    // out where the line's pacing needs the whole time.
    enum class OnStop { End, SleepOut };
    void waitOut(std::uint32_t ms, OnStop onStop);
    bool waitForInput(std::uint32_t start);
    bool stopped(std::size_t received);
    bool completeFrame();
    bool checkReply() const;

    SerialDevice &m_device;
    Clock &m_clock;
    EventWait *m_wait;
    std::array<std::uint8_t, kReceiveBufferSize> m_receiveBuffer{};
    int m_replyLength = 0;
    std::string m_lastReply;
    bool m_transacting = false;
    bool m_streaming = false;       // bytes still come after the reply window of this exchange
    std::uint32_t m_streamLimitMs;  // set by each open from its line settings
    std::uint32_t m_lastWaitMs = 0; // when the events were last handled
};

} // namespace kt::link

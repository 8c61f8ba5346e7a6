#pragma once

#include "clock.h"
#include "serial_device.h"

#include <array>
#include <cstdint>
#include <functional>
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
    // pumpEvents handles every pending window event without waiting; it may be empty.
    ReaderLink(SerialDevice &device, Clock &clock, std::function<void()> pumpEvents = {});

    // true when the port opened. A failed open leaves an already open port as it was.
    [[nodiscard]] bool openPort(int portNumber, std::string_view lineSettings);
    void closePort();
    [[nodiscard]] bool isOpen() const;

    // Blocks the thread for at least ms on the link's clock, handling no events.
    void pause(std::uint32_t ms);

    // One byte, then a 1 ms pause.
    void writeByte(std::uint8_t value);
    // One write of all the bytes (0 to 255 of them; 0 writes nothing), then a 5 ms pause.
    void writeBlock(std::span<const std::uint8_t> bytes);

    // Sends the framed command and waits up to about 120 ms for a reply frame, handling the
    // window's events at every empty read. true: a complete frame with a right checksum
    // arrived; lastReply() and replyLength() describe it. false: time-out (lastReply() kept),
    // a wrong checksum (lastReply() holds the rejected frame), or a hung-up port.
    [[nodiscard]] bool transact(std::string_view command);

    const std::string &lastReply() const { return m_lastReply; }
    int replyLength() const { return m_replyLength; }

    SerialDevice &device() { return m_device; }
    Clock &clock() { return m_clock; }
    void setPumpEvents(std::function<void()> pumpEvents) { m_pumpEvents = std::move(pumpEvents); }

private:
    bool runTransaction(std::string_view command);
    bool completeFrame();
    bool checkReply() const;

    SerialDevice &m_device;
    Clock &m_clock;
    std::function<void()> m_pumpEvents;
    std::array<std::uint8_t, kReceiveBufferSize> m_receiveBuffer{};
    int m_replyLength = 0;
    std::string m_lastReply;
    bool m_transacting = false;
};

} // namespace kt::link

#include "reader_link.h"

#include "frame.h"
#include "hex.h"
#include "log.h"

#include <algorithm>

namespace kt::link
{

namespace
{
// A byte stream that never forms a frame and never pauses (a babbling device, line noise)
// would keep the read loop going for ever, with no events handled. It is cut off this long
// after the start, which still leaves room for a full buffer's wrap at 4800 baud.
constexpr std::uint32_t kStreamLimitMs = 3000;

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t *>(text.data()), text.size()};
}
} // namespace

ReaderLink::ReaderLink(SerialDevice &device, Clock &clock, EventWait *wait)
    : m_device(device)
    , m_clock(clock)
    , m_wait(wait)
{
}

bool ReaderLink::openPort(int portNumber, std::string_view lineSettings)
{
    return m_device.open(portNumber, lineSettings);
}

void ReaderLink::closePort()
{
    m_device.close();
}

bool ReaderLink::isOpen() const
{
    return m_device.isOpen();
}

void ReaderLink::writeByte(std::uint8_t value)
{
    // Write errors are not acted on here: a frame that did not go out ends as a time-out.
    (void)m_device.write(std::span(&value, 1));
    m_clock.sleepMs(kBytePauseMs);
}

void ReaderLink::writeBlock(std::span<const std::uint8_t> bytes)
{
    if (!bytes.empty())
        (void)m_device.write(bytes);
    m_clock.sleepMs(kBlockPauseMs);
}

void ReaderLink::pause(std::uint32_t ms)
{
    if (m_wait == nullptr) {
        m_clock.sleepMs(ms);
        return;
    }
    const std::uint32_t start = m_clock.nowMs();
    // The wait may end early (a signal); unsigned subtraction keeps the rest right across the
    // clock's wrap.
    for (std::uint32_t passed = 0; passed < ms; passed = m_clock.nowMs() - start)
        m_wait->waitFor(ms - passed, std::nullopt);
}

bool ReaderLink::transact(std::string_view command)
{
    if (!m_device.isOpen()) {
        KT_WARNING(lcLink, "transact: the port is not open");
        return false;
    }
    if (command.empty() || command.size() > kMaxCommandLength) {
        KT_WARNING(lcLink, "transact: refused a command of %zu bytes (1 to %zu allowed)",
                   command.size(), kMaxCommandLength);
        return false;
    }
    // A transaction started from the event pump of a running one would overwrite its buffer.
    if (m_transacting) {
        KT_WARNING(lcLink, "transact: refused \"%.*s\" while another transaction waits",
                   static_cast<int>(command.size()), command.data());
        return false;
    }
    m_transacting = true;
    const bool result = runTransaction(command);
    m_transacting = false;
    return result;
}

bool ReaderLink::runTransaction(std::string_view command)
{
    m_receiveBuffer.fill(0);
    const auto sum = byteToHex(frameChecksum(command));
    // A reply that comes late to an earlier command, or bytes left from it, must not be taken
    // as this command's answer.
    m_device.discardInput();
    writeByte(kTab);
    writeBlock(bytesOf(command));
    writeByte(static_cast<std::uint8_t>(sum[0]));
    writeByte(static_cast<std::uint8_t>(sum[1]));
    writeByte(kCr);
    KT_DEBUG(lcLink, "%u tx %s", m_clock.nowMs(), hexDump(bytesOf(commandFrame(command))).c_str());

    m_replyLength = 0;
    const std::uint32_t start = m_clock.nowMs();
    std::uint32_t elapsed = 0;
    std::size_t received = 0;
    // Asleep on the port between reads, the link needs no read that waits as well.
    const bool sleepsOnPort = m_wait != nullptr && m_device.readableDescriptor().has_value();
    do {
        std::uint8_t byte = 0;
        switch (sleepsOnPort ? m_device.readWaitingByte(byte) : m_device.readByte(byte)) {
        case ReadResult::Byte: {
            ++received;
            m_receiveBuffer[static_cast<std::size_t>(m_replyLength)] = byte;
            if (++m_replyLength == static_cast<int>(kReceiveBufferSize))
                m_replyLength = 0;
            if (byte == kCr && m_receiveBuffer[0] == kLf)
                return completeFrame();
            // Unsigned subtraction keeps both limits right across the clock's wrap.
            if (m_clock.nowMs() - start > kStreamLimitMs) {
                KT_WARNING(lcLink, "%u rx: %zu bytes without a frame, the line is cut off",
                           m_clock.nowMs(), received);
                return false;
            }
            break;
        }
        case ReadResult::Empty:
            waitForInput(start);
            elapsed = m_clock.nowMs() - start;
            break;
        case ReadResult::Failed:
            KT_WARNING(lcLink, "transact: the port failed while waiting for the reply");
            return false;
        }
    } while (elapsed <= kReplyWindowMs);

    KT_DEBUG(
        lcLink, "%u rx time-out, %zu bytes: %s", m_clock.nowMs(), received,
        hexDump(std::span(m_receiveBuffer).first(std::min(received, kReceiveBufferSize))).c_str());
    return false;
}

// After an empty read: asleep until a byte or a hang-up, or until the reply window has closed,
// which ends the wait with no read after it. A port without a descriptor has waited 1 ms in
// its read already; the events that came meanwhile are handled.
void ReaderLink::waitForInput(std::uint32_t start)
{
    if (m_wait == nullptr)
        return;
    const std::optional<int> readable = m_device.readableDescriptor();
    const std::uint32_t elapsed = m_clock.nowMs() - start;
    if (!readable || elapsed > kReplyWindowMs) {
        m_wait->waitFor(0, std::nullopt);
        return;
    }
    m_wait->waitFor(kReplyWindowMs + 1 - elapsed, readable);
}

bool ReaderLink::completeFrame()
{
    // After a wrap to 0 this zero lands on the LF itself, so LastReply comes out empty.
    m_receiveBuffer[static_cast<std::size_t>(m_replyLength)] = 0;
    const auto *begin = m_receiveBuffer.data();
    const auto *end = std::find(begin, begin + kReceiveBufferSize, std::uint8_t{0});
    m_lastReply.assign(begin, end);
    const bool ok = checkReply();
    KT_DEBUG(
        lcLink, "%u rx %s%s", m_clock.nowMs(),
        hexDump(std::span(m_receiveBuffer).first(static_cast<std::size_t>(m_replyLength))).c_str(),
        ok ? "" : " (bad checksum)");
    return ok;
}

bool ReaderLink::checkReply() const
{
    const std::string_view frame(reinterpret_cast<const char *>(m_receiveBuffer.data()),
                                 static_cast<std::size_t>(m_replyLength));
    return checkFrame(frame);
}

} // namespace kt::link

#include "reader_link.h"

#include "frame.h"
#include "hex.h"
#include "line_settings.h"
#include "line_table.h"
#include "log.h"

#include <algorithm>

namespace kt::link
{

namespace
{
// While bytes keep arriving the read loop finds no time to wait, so it hands over to the
// window's events itself at least this often.
constexpr std::uint32_t kEventIntervalMs = 10;

// A text that cannot be read leaves the line's speed unknown: it is taken as the slowest of
// the twelve line settings with the longest character (start, 8 data, parity, 2 stop bits).
constexpr std::uint32_t slowestBaudRate()
{
    std::uint32_t slowest = kLineSettings.front().baudRate;
    for (const auto &row : kLineSettings)
        slowest = std::min(slowest, row.baudRate);
    return slowest;
}
constexpr std::uint32_t kUnknownBaudRate = slowestBaudRate();
constexpr std::uint32_t kLongestCharacterBits = 12;

// Start bit, data bits, parity bit, stop bits; a field the text leaves out counts at its
// longest, as the port may have it so.
std::uint32_t characterBits(const LineSettings &line)
{
    const bool parityBit = !line.parity || *line.parity != Parity::None;
    return 1 + static_cast<std::uint32_t>(line.dataBits.value_or(8)) + (parityBit ? 1 : 0)
           + static_cast<std::uint32_t>(line.stopBits.value_or(2));
}

// A byte stream that never forms a frame (a babbling device, line noise) is cut off once a
// full receive buffer could have come at the line's speed and the reply window is over: no
// reply that fits the buffer is still on its way then.
constexpr std::uint32_t streamLimitMs(std::uint32_t baudRate, std::uint32_t characterBits)
{
    const std::uint64_t bufferBits = std::uint64_t{kReceiveBufferSize} * characterBits * 1000;
    return static_cast<std::uint32_t>((bufferBits + baudRate - 1) / baudRate) + kReplyWindowMs;
}

constexpr std::uint32_t kUnknownStreamLimitMs =
    streamLimitMs(kUnknownBaudRate, kLongestCharacterBits);

std::uint32_t streamLimitMs(std::string_view lineSettings)
{
    if (const std::optional<LineSettings> line = parseLineSettings(lineSettings))
        return streamLimitMs(line->baudRate, characterBits(*line));
    // The device has already named a text it cannot read, once per text; this is said at
    // every open, so it stays at debug level.
    KT_DEBUG(lcLink,
             "line settings \"%.*s\" name no known speed: a stream without a frame is cut off "
             "after %u ms, as at %u baud",
             static_cast<int>(lineSettings.size()), lineSettings.data(), kUnknownStreamLimitMs,
             kUnknownBaudRate);
    return kUnknownStreamLimitMs;
}

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t *>(text.data()), text.size()};
}
} // namespace

ReaderLink::ReaderLink(SerialDevice &device, Clock &clock, EventWait *wait)
    : m_device(device)
    , m_clock(clock)
    , m_wait(wait)
    , m_streamLimitMs(kUnknownStreamLimitMs)
{
}

bool ReaderLink::openPort(int portNumber, std::string_view lineSettings)
{
    if (!m_device.open(portNumber, lineSettings))
        return false;
    m_streamLimitMs = streamLimitMs(lineSettings);
    return true;
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
    blockPause();
}

void ReaderLink::pause(std::uint32_t ms)
{
    waitOut(ms, OnStop::End);
}

// A timer of the window can fall due in the block's 5 ms, so the events are handled
// meanwhile; the reader still needs the whole pause, so a stop does not shorten it.
void ReaderLink::blockPause()
{
    waitOut(kBlockPauseMs, OnStop::SleepOut);
}

void ReaderLink::waitOut(std::uint32_t ms, OnStop onStop)
{
    if (m_wait == nullptr) {
        m_clock.sleepMs(ms);
        return;
    }
    const std::uint32_t start = m_clock.nowMs();
    // The wait may end early (a signal); unsigned subtraction keeps the rest right across the
    // clock's wrap.
    for (std::uint32_t passed = 0; passed < ms; passed = m_clock.nowMs() - start) {
        if (m_wait->stopRequested()) {
            // With a millisecond more: the clock may have counted one not wholly passed.
            if (onStop == OnStop::SleepOut)
                m_clock.sleepMs(ms - passed + 1);
            return;
        }
        (void)waitFor(ms - passed, std::nullopt);
    }
}

bool ReaderLink::waitFor(std::uint32_t ms, std::optional<int> readable)
{
    m_wait->waitFor(ms, readable);
    return afterWait();
}

bool ReaderLink::afterWait()
{
    m_lastWaitMs = m_clock.nowMs();
    return !m_wait->stopRequested();
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
    if (m_wait != nullptr && m_wait->stopRequested()) {
        KT_INFO(lcLink, "transact: \"%.*s\" not sent, the run is ending",
                static_cast<int>(command.size()), command.data());
        return false;
    }
    m_transacting = true;
    m_streaming = false;
    const bool result = runTransaction(command);
    m_transacting = false;
    return result;
}

bool ReaderLink::runTransaction(std::string_view command)
{
    m_receiveBuffer.fill(0);
    // The events are handled in the frame's block pause and while the reply is awaited.
    m_lastWaitMs = m_clock.nowMs();
    // A reply that comes late to an earlier command, or bytes left from it, must not be taken
    // as this command's answer.
    m_device.discardInput();
    // The lead byte, the command as one block, then each checksum character and the CR: the
    // reader takes the frame in these steps, each with its pause. The trace shows this buffer.
    const std::string frame = commandFrame(command);
    const std::span<const std::uint8_t> bytes = bytesOf(frame);
    writeByte(bytes.front());
    writeBlock(bytes.subspan(1, command.size()));
    for (const std::uint8_t tail : bytes.last(3))
        writeByte(tail);
    KT_DEBUG(lcLink, "%u tx %s", m_clock.nowMs(), hexDump(bytes).c_str());

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
            const std::uint32_t now = m_clock.nowMs();
            if (now - start >= m_streamLimitMs) {
                KT_WARNING(lcLink, "%u rx: %zu bytes without a frame, the line is cut off", now,
                           received);
                return false;
            }
            m_streaming = now - start > kReplyWindowMs;
            if (m_wait != nullptr && now - m_lastWaitMs >= kEventIntervalMs
                && !waitFor(0, std::nullopt))
                return stopped(received);
            break;
        }
        case ReadResult::Empty:
            if (!waitForInput(start))
                return stopped(received);
            elapsed = m_clock.nowMs() - start;
            break;
        case ReadResult::Failed:
        case ReadResult::HungUp:
            KT_WARNING(lcLink, "transact: the port failed while waiting for the reply");
            return false;
        }
    } while (elapsed <= kReplyWindowMs);

    KT_DEBUG(
        lcLink, "%u rx time-out, %zu bytes: %s", m_clock.nowMs(), received,
        hexDump(std::span(m_receiveBuffer).first(std::min(received, kReceiveBufferSize))).c_str());
    return false;
}

bool ReaderLink::stopped(std::size_t received)
{
    KT_INFO(lcLink, "%u rx: stopped after %zu bytes, the run is ending", m_clock.nowMs(), received);
    return false;
}

// After an empty read: asleep until a byte or a hang-up, or until the reply window has closed,
// which ends the wait with no read after it. The window closes the moment the clock turns to
// its 121st millisecond, not a whole millisecond after the start was read. A port without a
// descriptor has waited 1 ms in its read already; the events that came meanwhile are
// handled. false: the run is ending.
bool ReaderLink::waitForInput(std::uint32_t start)
{
    if (m_wait == nullptr)
        return true;
    const std::optional<int> readable = m_device.readableDescriptor();
    const std::uint32_t elapsed = m_clock.nowMs() - start;
    if (!readable || elapsed > kReplyWindowMs)
        return waitFor(0, std::nullopt);
    m_wait->waitForMicros(m_clock.microsUntil(start + kReplyWindowMs + 1), readable);
    return afterWait();
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

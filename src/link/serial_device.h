#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace kt::link {

enum class ReadResult {
    Byte,   // one byte was read
    Empty,  // nothing arrived within about 1 ms
    Failed, // hang-up or I/O error: the port is unusable until it is closed
};

// One serial port at a time, opened by its number ("COM" + number). One body per OS.
class SerialDevice
{
public:
    virtual ~SerialDevice() = default;

    // Opens the port exclusively and applies the line-settings text over its current settings.
    // A text that cannot be parsed leaves the line as it was and still opens. false: nothing
    // is held afterwards; a port that is already open stays open and untouched.
    [[nodiscard]] virtual bool open(int portNumber, std::string_view lineSettings) = 0;
    // Restores the read time-outs saved at open and releases the port. No-op when closed.
    virtual void close() = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;
    // One synchronous write of all the bytes; false when the OS refused it.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Returns at once with a waiting byte, or after about 1 ms with none.
    virtual ReadResult readByte(std::uint8_t &byte) = 0;
    // While open, a descriptor that poll() reports readable when a byte waits or the port
    // hangs up, so that a reply can be waited for asleep. nullopt: there is none, and the
    // link paces its reply wait by readByte's own 1 ms wait.
    virtual std::optional<int> readableDescriptor() const { return std::nullopt; }
};

// The serial ports of this OS (termios on POSIX, the Win32 comm API on Windows).
std::unique_ptr<SerialDevice> makeSystemSerialDevice();

} // namespace kt::link

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kt::link
{

enum class ReadResult {
    Byte,   // one byte was read
    Empty,  // nothing arrived within about 1 ms
    Failed, // an I/O error: the port is unusable until it is closed
    HungUp, // the line hung up (a converter unplugged, a bridge gone): unusable until closed
};

// Why the last open() failed.
enum class PortError {
    None,
    NoSuchDevice,
    PermissionDenied,
    Busy,         // another process holds the port
    NotATerminal, // the name leads to something that is not a serial port
    AlreadyOpen,  // this device already holds a port
    Other,
};

// What an open() that failed found, kept until the next open().
struct OpenError {
    PortError kind = PortError::None;
    int port = 0;
    std::string device;     // the device path; empty when the number names none
    int holderPid = 0;      // Busy: the process that holds the port, 0 when not known
    std::string holderName; // Busy: that process's program name, empty when not known
    std::string reason;     // what went wrong, in the serial layer's words
    // Busy: marked exclusive while no process holds it (the flag outlived a killed program)
    bool exclusiveLeftBehind = false;

    // The log line: "COM3 (/dev/ttyUSB0): " or "COM3: " and the reason.
    std::string text() const;
};

// Another process that had the port open when open() succeeded: one that opened it without
// any lock, which the replies may reach instead of us.
struct OtherOpener {
    int pid = 0;
    std::string name; // its program name; empty when not known

    // "COM3 is also open in socat (process 4711); its replies may go there"
    std::string text(int port) const;
};

// One serial port at a time, opened by its number ("COM" + number). One body per OS.
class SerialDevice
{
public:
    virtual ~SerialDevice() = default;

    // Opens the port exclusively, applies the line-settings text over its current settings and
    // drops whatever waited in its input.
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
    // As readByte, but never waits: for a caller that sleeps on readableDescriptor() itself
    // between reads. A device that cannot tell without waiting waits as readByte does.
    virtual ReadResult readWaitingByte(std::uint8_t &byte) { return readByte(byte); }
    // While open, a descriptor that poll() reports readable when a byte waits or the port
    // hangs up, so that a reply can be waited for asleep. nullopt: there is none, and the
    // link paces its reply wait by readByte's own 1 ms wait.
    virtual std::optional<int> readableDescriptor() const { return std::nullopt; }
    // Drops every byte that has arrived and not been read yet. No-op when closed.
    virtual void discardInput() = 0;

    // Why the last open() failed; kind None after one that succeeded.
    virtual const OpenError &openError() const { return m_openError; }
    // The other processes found with the port open at the last successful open().
    virtual const std::vector<OtherOpener> &alsoOpenIn() const { return m_alsoOpenIn; }

protected:
    // Keeps the reason, logs its text as a warning and returns false, for open() to return.
    bool failOpen(OpenError error);
    void setOpenError(OpenError error) { m_openError = std::move(error); }
    void clearOpenError() { m_openError = {}; }
    // Keeps the other openers and logs each one's text as a warning.
    void setAlsoOpenIn(int port, std::vector<OtherOpener> others);

private:
    OpenError m_openError;
    std::vector<OtherOpener> m_alsoOpenIn;
};

// The serial ports of this OS (termios on POSIX, the Win32 comm API on Windows).
std::unique_ptr<SerialDevice> makeSystemSerialDevice();

} // namespace kt::link

#pragma once

#include "../serial_device.h"
#include "base/posix/unique_fd.h"
#include "port_names.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <termios.h>

namespace kt::link
{

// A serial port through termios. Exclusive against other programs, root included: flock(),
// the TIOCEXCL flag and the UUCP lock file are all checked and all taken.
class PosixSerialDevice final : public SerialDevice
{
public:
    struct Folders {
        std::string portDir;                   // KT4500_PORT_DIR; empty: unset
        std::string etcPortsDir{kEtcPortsDir}; // pinned port numbers
        std::string lockDir{"/run/lock"};      // UUCP lock files; skipped if not writable
    };

    // Folders from the environment and the system's defaults.
    PosixSerialDevice();
    explicit PosixSerialDevice(Folders folders);
    ~PosixSerialDevice() override;

    PosixSerialDevice(const PosixSerialDevice &) = delete;
    PosixSerialDevice &operator=(const PosixSerialDevice &) = delete;

    [[nodiscard]] bool open(int portNumber, std::string_view lineSettings) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return static_cast<bool>(m_fd); }
    bool write(std::span<const std::uint8_t> bytes) override;
    ReadResult readByte(std::uint8_t &byte) override;
    ReadResult readWaitingByte(std::uint8_t &byte) override;
    std::optional<int> readableDescriptor() const override;
    void discardInput() override;

    // The line settings in force on the open port, read back from it ("19200,e,8,1"); empty
    // when the port is closed or cannot tell.
    std::string lineSettingsInForce() const;

private:
    void releaseLockFile();
    // Once per open each: a caller that keeps using a dead port must not flood the log.
    bool writeFailed(const std::string &why);
    ReadResult readFailed(const std::string &why, ReadResult result = ReadResult::Failed);
    // Takes what has arrived into m_input with one read() and returns read()'s result (errno
    // kept); m_input is empty unless it is above 0.
    ssize_t fillInput();
    // readByte with a poll() of up to timeoutMs when nothing has arrived.
    ReadResult readWithin(std::uint8_t &byte, int timeoutMs);

    Folders m_folders;
    base::UniqueFd m_fd;
    std::string m_lockFilePath; // set only while we own the lock file
    termios m_savedTermios{};
    int m_savedFileFlags = 0;
    bool m_readFailureLogged = false;
    bool m_writeFailureLogged = false;
    std::string m_unparsedSettingsWarned; // the last line-settings text said not understood
    // Bytes read from the port and not yet handed out: a reply is taken with one read(), not
    // one system call per byte. Dropped with the port's own input.
    std::array<std::uint8_t, 64> m_input{};
    std::size_t m_inputBegin = 0;
    std::size_t m_inputEnd = 0;
};

} // namespace kt::link

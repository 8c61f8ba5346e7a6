#pragma once

#include "../serial_device.h"
#include "port_names.h"
#include "unique_fd.h"

#include <string>
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

    Folders m_folders;
    UniqueFd m_fd;
    std::string m_lockFilePath; // set only while we own the lock file
    termios m_savedTermios{};
    int m_savedFileFlags = 0;
    bool m_readFailureLogged = false;
    bool m_writeFailureLogged = false;
    std::string m_unparsedSettingsWarned; // the last line-settings text said not understood
};

} // namespace kt::link

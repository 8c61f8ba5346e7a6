#pragma once

#include "../serial_device.h"

#include <string>
#include <windows.h>

namespace kt::link
{

// The Win32 calls the port goes through. Tests put recording fakes in; the defaults are the
// system's own.
struct CommApi {
    decltype(&::CreateFileA) createFile = ::CreateFileA;
    decltype(&::GetCommTimeouts) getCommTimeouts = ::GetCommTimeouts;
    decltype(&::SetCommTimeouts) setCommTimeouts = ::SetCommTimeouts;
    decltype(&::GetCommState) getCommState = ::GetCommState;
    decltype(&::BuildCommDCBA) buildCommDcb = ::BuildCommDCBA;
    decltype(&::SetCommState) setCommState = ::SetCommState;
    decltype(&::WriteFile) writeFile = ::WriteFile;
    decltype(&::ReadFile) readFile = ::ReadFile;
    decltype(&::CloseHandle) closeHandle = ::CloseHandle;
    decltype(&::PurgeComm) purgeComm = ::PurgeComm;
};

// The read time-outs the link puts on an open port: a one-byte read returns at once with a
// waiting byte, or after 1 ms with none. Writes have no time-out.
inline constexpr COMMTIMEOUTS kLinkTimeouts{0, 0, 1, 0, 0};

// The name CreateFileA opens port n by. The device namespace prefix is what lets COM10 and
// up open at all; without it only COM1 to COM9 are found.
std::string win32PortPath(int portNumber);

// A serial port through the Win32 comm API, opened exclusively (share mode 0).
class WinSerialDevice final : public SerialDevice
{
public:
    explicit WinSerialDevice(CommApi api = {});
    ~WinSerialDevice() override;

    WinSerialDevice(const WinSerialDevice &) = delete;
    WinSerialDevice &operator=(const WinSerialDevice &) = delete;

    [[nodiscard]] bool open(int portNumber, std::string_view lineSettings) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return m_handle != INVALID_HANDLE_VALUE; }
    bool write(std::span<const std::uint8_t> bytes) override;
    ReadResult readByte(std::uint8_t &byte) override;
    void discardInput() override;

private:
    void applyLineSettings(const std::string &where, std::string_view lineSettings);
    bool writeFailed(DWORD error);
    ReadResult readFailed(DWORD error);

    CommApi m_api;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    COMMTIMEOUTS m_savedTimeouts{};
    bool m_readFailureLogged = false;
    bool m_writeFailureLogged = false;
};

// The text of a Win32 error code, without the trailing line break.
std::string win32ErrorText(DWORD error);

} // namespace kt::link

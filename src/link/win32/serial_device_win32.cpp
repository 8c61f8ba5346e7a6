#include "serial_device_win32.h"

#include "../log.h"

#include <algorithm>

namespace kt::link
{

namespace
{
// The DCB's length field must hold the record's size before GetCommState reads into it.
constexpr DWORD kDcbLength = 28;
static_assert(sizeof(DCB) == kDcbLength);

// One WriteFile takes at most this many bytes, so that the count fits its DWORD.
constexpr std::size_t kMaxWriteChunk = 65536;

std::string describe(DWORD error)
{
    return win32ErrorText(error) + " (error " + std::to_string(error) + ")";
}

// The reader and its converters never use handshake lines: a CTS or DSR wait, or XON/XOFF,
// left on the port by another program would hold every write for ever, since the link's
// writes have no time-out. Line errors must not abort reads either: a byte heard at a wrong
// baud rate during a sweep would otherwise fail every read until ClearCommError.
void withoutHandshake(DCB &dcb)
{
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fAbortOnError = FALSE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    // RTS_CONTROL_TOGGLE stays: some RS-485 converters key their transmitter with it.
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
}
} // namespace

std::string win32PortPath(int portNumber)
{
    return "\\\\.\\COM" + std::to_string(portNumber);
}

std::string win32ErrorText(DWORD error)
{
    char buffer[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, std::min<std::size_t>(length, sizeof buffer));
    while (
        !text.empty()
        && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "system error" : text;
}

WinSerialDevice::WinSerialDevice(CommApi api)
    : m_api(api)
{
}

WinSerialDevice::~WinSerialDevice()
{
    close();
}

bool WinSerialDevice::open(int portNumber, std::string_view lineSettings)
{
    const std::string port = "COM" + std::to_string(portNumber);
    // A second open must not disturb the one that runs (a card loop holds the port).
    if (isOpen())
        return failOpen(
            {PortError::AlreadyOpen, portNumber, {}, 0, {}, "not opened, a port is already open"});
    if (portNumber < 1)
        return failOpen({PortError::NoSuchDevice, portNumber, {}, 0, {}, "no such port"});
    const std::string path = win32PortPath(portNumber);
    const std::string where = port + " (" + path + ")";
    const auto fail = [&](PortError kind, std::string reason) {
        return failOpen({kind, portNumber, path, 0, {}, std::move(reason)});
    };

    // Share mode 0: a port another program holds is refused, and no one gets in while we do.
    const HANDLE handle = m_api.createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return fail(PortError::NoSuchDevice, "no such port");
        // Windows gives access denied for a port another program has open.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return fail(PortError::Busy,
                        "busy or access refused, another program may hold it: " + describe(error));
        default:
            return fail(PortError::Other, "cannot be opened: " + describe(error));
        }
    }

    // A handle whose time-outs cannot be read is not a serial port, and one that does not take
    // the 1 ms read time-out would let a one-byte read wait for ever: neither is used.
    COMMTIMEOUTS saved{};
    if (!m_api.getCommTimeouts(handle, &saved)) {
        const DWORD error = ::GetLastError();
        m_api.closeHandle(handle);
        return fail(PortError::NotATerminal,
                    "not a serial port, its time-outs cannot be read: " + describe(error));
    }
    COMMTIMEOUTS linkTimeouts = kLinkTimeouts;
    if (!m_api.setCommTimeouts(handle, &linkTimeouts)) {
        const DWORD error = ::GetLastError();
        m_api.closeHandle(handle);
        return fail(PortError::Other,
                    "not used, the read time-out cannot be set: " + describe(error));
    }
    m_handle = handle;
    m_savedTimeouts = saved;
    clearOpenError();
    m_readFailureLogged = false;
    m_writeFailureLogged = false;
    applyLineSettings(where, lineSettings);
    // Bytes heard before the open are no answer to anything we send.
    discardInput();
    KT_DEBUG(lcLink, "%s open, line settings \"%.*s\"", where.c_str(),
             static_cast<int>(lineSettings.size()), lineSettings.data());
    return true;
}

// Whether these calls succeed does not decide the open: a text the platform rejects leaves
// the line's speed and framing as they were, and the port is used as it is.
void WinSerialDevice::applyLineSettings(const std::string &where, std::string_view lineSettings)
{
    DCB dcb{};
    dcb.DCBlength = kDcbLength;
    if (!m_api.getCommState(m_handle, &dcb)) {
        const DWORD error = ::GetLastError();
        KT_WARNING(lcLink, "%s: the line state cannot be read, the line keeps its own: %s",
                   where.c_str(), describe(error).c_str());
        return;
    }
    // Built on a copy: a rejected text may have changed some fields before it failed. An
    // empty text names nothing to change (Wine's BuildCommDCBA would still reset the stop bits).
    DCB built = dcb;
    const std::string text(lineSettings);
    if (!text.empty() && text.find('\0') == std::string::npos
        && m_api.buildCommDcb(text.c_str(), &built)) {
        dcb = built;
    } else {
        KT_WARNING(lcLink, "%s: line settings \"%.*s\" not understood; the line keeps its own",
                   where.c_str(), static_cast<int>(lineSettings.size()), lineSettings.data());
    }
    withoutHandshake(dcb);
    if (!m_api.setCommState(m_handle, &dcb)) {
        const DWORD error = ::GetLastError();
        KT_DEBUG(lcLink, "%s: SetCommState: %s", where.c_str(), describe(error).c_str());
    }
}

void WinSerialDevice::close()
{
    if (!isOpen())
        return;
    // The time-outs go back as they were; the line settings stay.
    COMMTIMEOUTS saved = m_savedTimeouts;
    m_api.setCommTimeouts(m_handle, &saved);
    m_api.closeHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}

bool WinSerialDevice::write(std::span<const std::uint8_t> bytes)
{
    if (!isOpen())
        return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto chunk = static_cast<DWORD>(std::min(bytes.size() - done, kMaxWriteChunk));
        DWORD written = 0;
        if (!m_api.writeFile(m_handle, bytes.data() + done, chunk, &written, nullptr))
            return writeFailed(::GetLastError());
        // Nothing taken and no error: the driver will take no more.
        if (written == 0)
            return writeFailed(ERROR_WRITE_FAULT);
        done += std::min<std::size_t>(written, chunk);
    }
    return true;
}

ReadResult WinSerialDevice::readByte(std::uint8_t &byte)
{
    if (!isOpen())
        return ReadResult::Failed;
    DWORD got = 0;
    // Under the link time-outs this returns with a waiting byte or after about 1 ms. An
    // unplugged converter makes it fail.
    if (!m_api.readFile(m_handle, &byte, 1, &got, nullptr))
        return readFailed(::GetLastError());
    return got == 1 ? ReadResult::Byte : ReadResult::Empty;
}

void WinSerialDevice::discardInput()
{
    if (isOpen())
        m_api.purgeComm(m_handle, PURGE_RXCLEAR);
}

// Once per open each: a caller that keeps using a dead port must not flood the log.
bool WinSerialDevice::writeFailed(DWORD error)
{
    if (!m_writeFailureLogged)
        KT_WARNING(lcLink, "write: %s", describe(error).c_str());
    m_writeFailureLogged = true;
    return false;
}

ReadResult WinSerialDevice::readFailed(DWORD error)
{
    if (!m_readFailureLogged)
        KT_WARNING(lcLink, "read: %s", describe(error).c_str());
    m_readFailureLogged = true;
    return ReadResult::Failed;
}

std::unique_ptr<SerialDevice> makeSystemSerialDevice()
{
    return std::make_unique<WinSerialDevice>();
}

} // namespace kt::link

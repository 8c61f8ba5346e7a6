// The Win32 serial device against recording fakes of the comm calls: which calls, in which
// order, with which arguments, and what a failure at each step leaves behind. The line
// settings text goes through the system's own BuildCommDCBA.

#include "link/log.h"
#include "link/win32/serial_device_win32.h"

#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kt::link;

namespace
{

const HANDLE kPortHandle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x4C0));

// One serial port as the fakes see it.
struct FakePort {
    // failures, each with the error GetLastError() then gives
    DWORD createError = 0;
    bool getTimeoutsFails = false;
    bool setTimeoutsFails = false;
    bool getStateFails = false;
    bool readFails = false;
    bool writeFails = false;
    DWORD writeLimit = 0xFFFFFFFF; // bytes one WriteFile takes at most

    // what the port holds
    COMMTIMEOUTS timeouts{50, 2, 300, 4, 500};
    DCB dcb{};
    std::deque<std::uint8_t> input;
    std::string written;

    // what was asked of it
    std::vector<std::string> calls;
    std::string createdPath;
    DWORD access = 0, share = 0xFFFF, disposition = 0, flags = 0xFFFF;
    bool securityOrTemplateGiven = false;
    DWORD dcbLengthOnGet = 0;
    std::vector<COMMTIMEOUTS> timeoutsSet;
    std::vector<DCB> statesSet;
};
FakePort g_port;

bool sameTimeouts(const COMMTIMEOUTS &a, const COMMTIMEOUTS &b)
{
    return a.ReadIntervalTimeout == b.ReadIntervalTimeout
           && a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier
           && a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant
           && a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier
           && a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

HANDLE WINAPI fakeCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE templateFile)
{
    g_port.calls.push_back("CreateFileA");
    g_port.createdPath = name;
    g_port.access = access;
    g_port.share = share;
    g_port.disposition = disposition;
    g_port.flags = flags;
    g_port.securityOrTemplateGiven = sa != nullptr || templateFile != nullptr;
    if (g_port.createError != 0) {
        ::SetLastError(g_port.createError);
        return INVALID_HANDLE_VALUE;
    }
    return kPortHandle;
}

BOOL checkHandle(HANDLE h)
{
    EXPECT_EQ(h, kPortHandle) << "a call on a handle the port did not give out";
    return h == kPortHandle;
}

BOOL WINAPI fakeGetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t)
{
    g_port.calls.push_back("GetCommTimeouts");
    if (!checkHandle(h) || g_port.getTimeoutsFails) {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    *t = g_port.timeouts;
    return TRUE;
}

BOOL WINAPI fakeSetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t)
{
    g_port.calls.push_back("SetCommTimeouts");
    if (!checkHandle(h) || g_port.setTimeoutsFails) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    g_port.timeoutsSet.push_back(*t);
    g_port.timeouts = *t;
    return TRUE;
}

BOOL WINAPI fakeGetCommState(HANDLE h, LPDCB dcb)
{
    g_port.calls.push_back("GetCommState");
    g_port.dcbLengthOnGet = dcb->DCBlength;
    if (!checkHandle(h) || g_port.getStateFails) {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    *dcb = g_port.dcb;
    return TRUE;
}

BOOL WINAPI fakeBuildCommDcb(LPCSTR text, LPDCB dcb)
{
    g_port.calls.push_back(std::string("BuildCommDCBA ") + text);
    return ::BuildCommDCBA(text, dcb);
}

BOOL WINAPI fakeSetCommState(HANDLE h, LPDCB dcb)
{
    g_port.calls.push_back("SetCommState");
    if (!checkHandle(h))
        return FALSE;
    g_port.statesSet.push_back(*dcb);
    g_port.dcb = *dcb;
    return TRUE;
}

BOOL WINAPI fakeWriteFile(HANDLE h, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED ov)
{
    g_port.calls.push_back("WriteFile");
    EXPECT_EQ(ov, nullptr);
    *written = 0;
    if (!checkHandle(h) || g_port.writeFails) {
        ::SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    const DWORD n = count < g_port.writeLimit ? count : g_port.writeLimit;
    g_port.written.append(static_cast<const char *>(data), n);
    *written = n;
    return TRUE;
}

BOOL WINAPI fakeReadFile(HANDLE h, LPVOID data, DWORD count, LPDWORD got, LPOVERLAPPED ov)
{
    g_port.calls.push_back("ReadFile");
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(ov, nullptr);
    *got = 0;
    if (!checkHandle(h) || g_port.readFails) {
        ::SetLastError(ERROR_ACCESS_DENIED); // what an unplugged USB converter gives
        return FALSE;
    }
    if (!g_port.input.empty()) {
        *static_cast<std::uint8_t *>(data) = g_port.input.front();
        g_port.input.pop_front();
        *got = 1;
    }
    return TRUE;
}

BOOL WINAPI fakeCloseHandle(HANDLE h)
{
    g_port.calls.push_back("CloseHandle");
    return checkHandle(h);
}

BOOL WINAPI fakePurgeComm(HANDLE h, DWORD flags)
{
    // Only the input goes: a purge of the output would cut a frame on its way out.
    g_port.calls.push_back(flags == PURGE_RXCLEAR ? "PurgeComm RX" : "PurgeComm other");
    if (!checkHandle(h))
        return FALSE;
    g_port.input.clear();
    return TRUE;
}

CommApi fakeApi()
{
    return {fakeCreateFile,   fakeGetCommTimeouts, fakeSetCommTimeouts, fakeGetCommState,
            fakeBuildCommDcb, fakeSetCommState,    fakeWriteFile,       fakeReadFile,
            fakeCloseHandle,  fakePurgeComm};
}

// A port as another program left it: 9600 baud, odd parity, every kind of handshake on.
DCB portLeftWithHandshake()
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 7;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    dcb.fDsrSensitivity = TRUE;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.fAbortOnError = TRUE;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    return dcb;
}

std::vector<std::string> g_warnings;
void collectWarnings(const kt::log::Category &, kt::log::Level level, std::string_view message)
{
    if (level == kt::log::Level::Warning)
        g_warnings.emplace_back(message);
}

class WinSerialDeviceTest : public testing::Test
{
protected:
    void SetUp() override
    {
        g_port = FakePort{};
        g_port.dcb = portLeftWithHandshake();
        g_warnings.clear();
        m_previousSink = kt::log::setSink(collectWarnings);
    }
    void TearDown() override { kt::log::setSink(m_previousSink); }

    WinSerialDevice device{fakeApi()};

private:
    kt::log::Sink m_previousSink = nullptr;
};

using Calls = std::vector<std::string>;

} // namespace

TEST_F(WinSerialDeviceTest, OpensEveryPortNumberThroughTheDeviceNamespaceExclusively)
{
    const std::pair<int, const char *> cases[] = {
        {1, "\\\\.\\COM1"},   {9, "\\\\.\\COM9"},     {10, "\\\\.\\COM10"},
        {16, "\\\\.\\COM16"}, {255, "\\\\.\\COM255"},
    };
    for (const auto &[number, path] : cases) {
        SCOPED_TRACE(number);
        g_port.calls.clear();
        ASSERT_TRUE(device.open(number, "19200,e,8,1"));
        EXPECT_EQ(g_port.createdPath, path);
        EXPECT_EQ(g_port.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
        EXPECT_EQ(g_port.share, 0u) << "the port must be held exclusively";
        EXPECT_EQ(g_port.disposition, static_cast<DWORD>(OPEN_EXISTING));
        EXPECT_EQ(g_port.flags, 0u) << "plain synchronous I/O, no overlapped handle";
        EXPECT_FALSE(g_port.securityOrTemplateGiven);
        device.close();
    }
}

TEST_F(WinSerialDeviceTest, OpenPutsTheLinkTimeoutsAndTheTextOnThePortAndCloseRestores)
{
    const COMMTIMEOUTS before = g_port.timeouts;
    ASSERT_TRUE(device.open(5, "19200,e,8,1"));
    EXPECT_TRUE(device.isOpen());
    EXPECT_EQ(g_port.calls,
              (Calls{"CreateFileA", "GetCommTimeouts", "SetCommTimeouts", "GetCommState",
                     "BuildCommDCBA 19200,e,8,1", "SetCommState", "PurgeComm RX"}));
    EXPECT_TRUE(sameTimeouts(g_port.timeouts, COMMTIMEOUTS{0, 0, 1, 0, 0}));
    EXPECT_EQ(g_port.dcbLengthOnGet, 28u);
    EXPECT_EQ(g_port.dcb.BaudRate, 19200u);
    EXPECT_EQ(g_port.dcb.Parity, EVENPARITY);
    EXPECT_EQ(g_port.dcb.ByteSize, 8);
    EXPECT_EQ(g_port.dcb.StopBits, ONESTOPBIT);

    g_port.calls.clear();
    device.close();
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(g_port.calls, (Calls{"SetCommTimeouts", "CloseHandle"}));
    EXPECT_TRUE(sameTimeouts(g_port.timeouts, before)) << "the time-outs come back as they were";
    EXPECT_EQ(g_port.dcb.BaudRate, 19200u) << "the line settings stay";

    g_port.calls.clear();
    device.close();
    EXPECT_TRUE(g_port.calls.empty()) << "a second close has nothing to close";
}

TEST_F(WinSerialDeviceTest, TheLineNeverWaitsOnHandshakeWhateverTheText)
{
    const struct {
        std::string text;
        bool applied;
    } cases[] = {
        {"19200,e,8,1", true},
        {"115200,n,8,1", true},
        {"4800,n,8,1", true},
        {"fast please", false},
        {"", false},
        {std::string("19200,e,8,1\0junk", 16), false}, // a zero would hide the rest
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        g_port.dcb = portLeftWithHandshake();
        g_port.statesSet.clear();
        ASSERT_TRUE(device.open(3, c.text)) << "a text the platform rejects still opens";
        ASSERT_EQ(g_port.statesSet.size(), 1u);
        const DCB &set = g_port.statesSet[0];
        if (c.applied) {
            EXPECT_NE(set.BaudRate, static_cast<DWORD>(CBR_9600));
        } else {
            EXPECT_EQ(set.BaudRate, static_cast<DWORD>(CBR_9600));
            EXPECT_EQ(set.Parity, ODDPARITY);
            EXPECT_EQ(set.ByteSize, 7);
            EXPECT_EQ(set.StopBits, TWOSTOPBITS);
        }
        EXPECT_FALSE(set.fOutxCtsFlow);
        EXPECT_FALSE(set.fOutxDsrFlow);
        EXPECT_FALSE(set.fDsrSensitivity);
        EXPECT_FALSE(set.fOutX);
        EXPECT_FALSE(set.fInX);
        EXPECT_FALSE(set.fAbortOnError);
        EXPECT_EQ(set.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
        EXPECT_EQ(set.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
        device.close();
    }
}

TEST_F(WinSerialDeviceTest, RtsToggleForAnRs485ConverterStaysWhereTheTextKeepsTheLine)
{
    g_port.dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    ASSERT_TRUE(device.open(3, "not understood"));
    EXPECT_EQ(g_port.dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
}

TEST_F(WinSerialDeviceTest, AnUnreadableLineStateIsLeftAloneAndTheOpenStands)
{
    g_port.getStateFails = true;
    ASSERT_TRUE(device.open(3, "19200,e,8,1"));
    EXPECT_TRUE(g_port.statesSet.empty()) << "no state built over an unread record";
    EXPECT_TRUE(sameTimeouts(g_port.timeouts, kLinkTimeouts));
}

TEST_F(WinSerialDeviceTest, AFailedOpenLeavesNothingBehind)
{
    const struct {
        const char *what;
        void (*arrange)();
        Calls calls;
        PortError kind;
    } cases[] = {
        {"no such port",
         [] { g_port.createError = ERROR_FILE_NOT_FOUND; },
         {"CreateFileA"},
         PortError::NoSuchDevice},
        {"held by another program",
         [] { g_port.createError = ERROR_ACCESS_DENIED; },
         {"CreateFileA"},
         PortError::Busy},
        {"sharing violation",
         [] { g_port.createError = ERROR_SHARING_VIOLATION; },
         {"CreateFileA"},
         PortError::Busy},
        {"not a serial port",
         [] { g_port.getTimeoutsFails = true; },
         {"CreateFileA", "GetCommTimeouts", "CloseHandle"},
         PortError::NotATerminal},
        // Reads would then wait for a byte for ever.
        {"time-outs refused",
         [] { g_port.setTimeoutsFails = true; },
         {"CreateFileA", "GetCommTimeouts", "SetCommTimeouts", "CloseHandle"},
         PortError::Other},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        g_port = FakePort{};
        g_warnings.clear();
        c.arrange();
        const COMMTIMEOUTS before = g_port.timeouts;
        EXPECT_FALSE(device.open(12, "19200,e,8,1"));
        EXPECT_FALSE(device.isOpen());
        EXPECT_EQ(g_port.calls, c.calls);
        EXPECT_TRUE(sameTimeouts(g_port.timeouts, before));
        EXPECT_FALSE(g_warnings.empty()) << "the log says why";
        EXPECT_EQ(device.openError().kind, c.kind);
        EXPECT_EQ(device.openError().port, 12);
        EXPECT_EQ(g_warnings.back(), device.openError().text());

        g_port.calls.clear();
        device.close();
        std::uint8_t value = 0;
        EXPECT_EQ(device.readByte(value), ReadResult::Failed);
        EXPECT_FALSE(device.write(std::vector<std::uint8_t>{1, 2}));
        EXPECT_TRUE(g_port.calls.empty()) << "nothing is called on a port that is not open";
    }
}

TEST_F(WinSerialDeviceTest, ASecondOpenLeavesTheOpenPortUntouched)
{
    ASSERT_TRUE(device.open(3, "19200,e,8,1"));
    g_port.calls.clear();
    EXPECT_FALSE(device.open(4, "9600,n,8,1"));
    EXPECT_EQ(device.openError().kind, PortError::AlreadyOpen);
    EXPECT_TRUE(g_port.calls.empty());
    EXPECT_TRUE(device.isOpen());
    EXPECT_EQ(g_port.dcb.BaudRate, 19200u);
    EXPECT_TRUE(device.write(std::vector<std::uint8_t>{0x09}));
    EXPECT_EQ(g_port.written, "\t");
}

TEST_F(WinSerialDeviceTest, PortNumbersBelowOneAreNoPorts)
{
    for (const int number : {0, -1, -2147483647 - 1}) {
        SCOPED_TRACE(number);
        EXPECT_FALSE(device.open(number, "19200,e,8,1"));
        EXPECT_TRUE(g_port.calls.empty());
    }
}

TEST_F(WinSerialDeviceTest, WritesSendEveryByteInOrder)
{
    ASSERT_TRUE(device.open(3, "19200,e,8,1"));
    std::vector<std::uint8_t> block(255);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i);
    const std::string expected(block.begin(), block.end());

    const struct {
        DWORD limit;
        std::size_t calls;
    } cases[] = {{0xFFFFFFFF, 1}, {100, 3}, {1, 255}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.limit);
        g_port.writeLimit = c.limit;
        g_port.written.clear();
        g_port.calls.clear();
        EXPECT_TRUE(device.write(block));
        EXPECT_EQ(g_port.written, expected);
        EXPECT_EQ(g_port.calls.size(), c.calls);
    }
    g_port.calls.clear();
    EXPECT_TRUE(device.write({}));
    EXPECT_TRUE(g_port.calls.empty()) << "no bytes, no write";
}

TEST_F(WinSerialDeviceTest, AWriteThatTakesNothingEndsInsteadOfSpinning)
{
    ASSERT_TRUE(device.open(3, "19200,e,8,1"));
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "WriteFile fails" : "WriteFile takes no byte");
        g_port.writeFails = fails;
        g_port.writeLimit = 0;
        g_port.calls.clear();
        EXPECT_FALSE(device.write(std::vector<std::uint8_t>{1, 2, 3}));
        EXPECT_EQ(g_port.calls.size(), 1u);
    }
    EXPECT_EQ(g_warnings.size(), 1u) << "one line per open, not one per write";
}

TEST_F(WinSerialDeviceTest, ReadsTellAByteFromNothingFromADeadPort)
{
    ASSERT_TRUE(device.open(3, "19200,e,8,1"));
    g_port.input = {0x0A, 0x00, 0xFF};
    std::uint8_t value = 0x55;
    for (const std::uint8_t expected : {0x0A, 0x00, 0xFF}) {
        ASSERT_EQ(device.readByte(value), ReadResult::Byte);
        EXPECT_EQ(value, expected);
    }
    EXPECT_EQ(device.readByte(value), ReadResult::Empty);

    g_port.readFails = true;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(device.readByte(value), ReadResult::Failed);
    EXPECT_EQ(g_warnings.size(), 1u) << "one line per open, not one per read";

    device.close();
    ASSERT_TRUE(device.open(3, "19200,e,8,1"));
    EXPECT_EQ(device.readByte(value), ReadResult::Failed);
    EXPECT_EQ(g_warnings.size(), 2u) << "a new open logs again";
}

TEST_F(WinSerialDeviceTest, InputThatWaitedIsDroppedAtOpenAndOnRequestOnly)
{
    g_port.input = {0x0A, 0x30, 0x0D};
    ASSERT_TRUE(device.open(3, "19200,e,8,1"));
    std::uint8_t value = 0;
    EXPECT_EQ(device.readByte(value), ReadResult::Empty) << "a byte from before the open";

    g_port.input = {0x0A, 0x30};
    ASSERT_EQ(device.readByte(value), ReadResult::Byte);
    device.discardInput();
    EXPECT_EQ(device.readByte(value), ReadResult::Empty);
    EXPECT_EQ(g_port.calls.back(), "ReadFile");

    device.close();
    g_port.calls.clear();
    device.discardInput();
    EXPECT_TRUE(g_port.calls.empty()) << "nothing is called on a port that is not open";
}

TEST_F(WinSerialDeviceTest, DestroyingAnOpenDeviceRestoresAndCloses)
{
    const COMMTIMEOUTS before = g_port.timeouts;
    {
        WinSerialDevice scoped(fakeApi());
        ASSERT_TRUE(scoped.open(7, "9600,n,8,1"));
        g_port.calls.clear();
    }
    EXPECT_EQ(g_port.calls, (Calls{"SetCommTimeouts", "CloseHandle"}));
    EXPECT_TRUE(sameTimeouts(g_port.timeouts, before));
}

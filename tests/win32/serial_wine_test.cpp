// The Win32 serial device and the reader operations against kt4500-sim, over a real COM port.
// Under Wine, the port is the prefix's dosdevices/com<n> link to the simulator's
// pseudo-terminal; KT4500_TEST_SIM_PORTS lists the port numbers that reach it (for example
// "5,12"), with the simulator at its defaults. Without it the tests are skipped.

#include "fake_view.h"
#include "link/commands.h"
#include "link/reader_link.h"
#include "link/win32/serial_device_win32.h"
#include "ops/operations.h"
#include "settings/app_settings.h"
#include "text/text_table.h"
#include "wine.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kt::link;

namespace
{

constexpr char kReaderLine[] = "19200,e,8,1"; // the simulator's default line settings

std::vector<int> simPorts()
{
    std::vector<int> ports;
    const char *list = std::getenv("KT4500_TEST_SIM_PORTS");
    if (list == nullptr)
        return ports;
    std::string rest(list);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const int port = std::atoi(rest.substr(0, comma).c_str());
        if (port > 0)
            ports.push_back(port);
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
    }
    return ports;
}

class SimPortTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ports = simPorts();
        if (ports.empty())
            GTEST_SKIP() << "KT4500_TEST_SIM_PORTS names no port with kt4500-sim behind it";
    }

    std::vector<int> ports;
    WinSerialDevice device;
    ReaderLink link{device, systemClock()};
};

DCB lineStateOf(int port)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const HANDLE h = ::CreateFileA(win32PortPath(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) {
        EXPECT_TRUE(::GetCommState(h, &dcb));
        ::CloseHandle(h);
    }
    return dcb;
}

} // namespace

TEST_F(SimPortTest, ReaderAnswersOverEveryPortNumber)
{
    for (const int port : ports) {
        SCOPED_TRACE("COM" + std::to_string(port));
        ASSERT_TRUE(link.openPort(port, kReaderLine));
        ASSERT_TRUE(link.transact(kIdentityQuery));
        EXPECT_EQ(link.replyLength(), kIdentityReplyLength);
        EXPECT_EQ(serialNumberField(link.lastReply()), "12345678");
        ASSERT_TRUE(link.transact(kVersionQuery));
        EXPECT_EQ(versionField(link.lastReply()), "03.20-01");
        link.closePort();
    }
}

TEST_F(SimPortTest, ReaderAnswersOnlyAtItsOwnBaudRate)
{
    const int port = ports.front();
    ASSERT_TRUE(link.openPort(port, "9600,n,8,1"));
    EXPECT_FALSE(link.transact(kIdentityQuery));
    link.closePort();
    EXPECT_EQ(lineStateOf(port).BaudRate, 9600u) << "the line keeps what the open applied";

    ASSERT_TRUE(link.openPort(port, kReaderLine));
    EXPECT_TRUE(link.transact(kIdentityQuery));
    link.closePort();
    EXPECT_EQ(lineStateOf(port).BaudRate, 19200u);
}

TEST_F(SimPortTest, ARejectedTextStillOpensOnTheLineAsItWas)
{
    const int port = ports.front();
    ASSERT_TRUE(link.openPort(port, kReaderLine));
    link.closePort();
    ASSERT_TRUE(link.openPort(port, "not a line setting"));
    EXPECT_TRUE(link.transact(kIdentityQuery));
    link.closePort();
}

TEST_F(SimPortTest, MissingPortsFailAndLeaveTheDeviceClosed)
{
    for (const int port : {250, 0, -3}) {
        SCOPED_TRACE(port);
        EXPECT_FALSE(link.openPort(port, kReaderLine));
        EXPECT_FALSE(link.isOpen());
    }
    ASSERT_TRUE(link.openPort(ports.front(), kReaderLine));
    EXPECT_TRUE(link.transact(kIdentityQuery));
    link.closePort();
}

TEST_F(SimPortTest, APortThatIsOpenCannotBeOpenedAgain)
{
    ASSERT_TRUE(link.openPort(ports.front(), kReaderLine));
    WinSerialDevice other;
    const bool secondOpened = other.open(ports.front(), kReaderLine);
    other.close();
    link.closePort();
    if (secondOpened && kt::test::runningUnderWine())
        GTEST_SKIP() << "Wine does not enforce the exclusive open of a serial port";
    EXPECT_FALSE(secondOpened);
}

TEST_F(SimPortTest, ScanFindsTheReaderOnTheStoredPort)
{
    kt::text::setLanguage(kt::text::Language::English);
    kt::test::FakeView view;
    kt::settings::AppSettings settings{ports.front(), kReaderLine, 5, "English"};
    kt::ops::ReaderState state;
    kt::ops::Context ctx{link, view, settings, state};
    kt::ops::scanReader(ctx);
    EXPECT_TRUE(state.readerFound) << view.dump();
    EXPECT_EQ(view.panels[kt::ops::Panel::Serial], "S/N : 12345678");
    EXPECT_EQ(view.panels[kt::ops::Panel::Version], "VER : 03.20-01");
    EXPECT_EQ(view.lamps[kt::ops::Lamp::Comm], kt::ops::Colour::Yellow);
    EXPECT_FALSE(link.isOpen());
}

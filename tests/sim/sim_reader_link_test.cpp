// kt4500-sim driven by the tool's own serial link: the POSIX serial device and ReaderLink.

#include "link/commands.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "sim_process.h"

#include <gtest/gtest.h>

namespace
{

using kt::link::PosixSerialDevice;
using kt::link::ReaderLink;
using kt::sim::SimProcess;

constexpr int kPort = 3; // SimProcess links COM3

PosixSerialDevice::Folders foldersOf(const SimProcess &sim)
{
    return {sim.portDir(), sim.dir() + "/no-etc-ports", sim.dir()};
}

TEST(SimReaderLink, AnswersOnlyAtItsOwnBaudRate)
{
    SimProcess sim({"--serial", "KT000042"});
    ASSERT_TRUE(sim.isRunning());
    PosixSerialDevice device(foldersOf(sim));
    ReaderLink link(device, kt::link::systemClock());

    const struct {
        const char *lineSettings;
        bool answered;
    } cases[] = {
        {"19200,e,8,1", true}, {"19200,n,8,1", true}, // a pty shows no parity
        {"9600,e,8,1", false}, {"115200,e,8,1", false}, {"4800,n,8,1", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lineSettings);
        ASSERT_TRUE(link.openPort(kPort, c.lineSettings));
        const bool answered = link.transact("A00B");
        link.closePort();
        EXPECT_EQ(answered, c.answered);
        if (answered) {
            EXPECT_EQ(link.replyLength(), 16);
            EXPECT_EQ(kt::link::serialNumberField(link.lastReply()), "KT000042");
        }
    }
    // The eight bytes of the frame, as the tool put them on the line.
    EXPECT_NE(sim.log().find(" rx 09 41 30 30 42 30 41 0D |.A00B0A.|\n"), std::string::npos);
}

TEST(SimReaderLink, SetCommandsTakeEffect)
{
    SimProcess sim;
    ASSERT_TRUE(sim.isRunning());
    PosixSerialDevice device(foldersOf(sim));
    ReaderLink link(device, kt::link::systemClock());

    ASSERT_TRUE(link.openPort(kPort, "19200,e,8,1"));
    ASSERT_TRUE(link.transact("A00B"));
    const std::string serial(kt::link::serialNumberField(link.lastReply()));
    EXPECT_TRUE(link.transact(kt::link::setIdCommand(serial, "42")));
    EXPECT_TRUE(link.transact(kt::link::setModeCommand(1, 2, 0)));
    EXPECT_TRUE(link.transact(kt::link::setLineSettingsCommand(11)));
    EXPECT_FALSE(link.transact("A00B")) << "the reader has gone to 115200";
    link.closePort();

    ASSERT_TRUE(link.openPort(kPort, "115200,e,8,1"));
    ASSERT_TRUE(link.transact("A00B"));
    EXPECT_EQ(kt::link::readerIdField(link.lastReply()), "42");
    ASSERT_TRUE(link.transact("A00A"));
    EXPECT_EQ(kt::link::replyField(link.lastReply(), 6, 3), "120");
    link.closePort();
}

TEST(SimReaderLink, HangupEndsTheTransactionAsFailed)
{
    SimProcess sim;
    ASSERT_TRUE(sim.isRunning());
    PosixSerialDevice device(foldersOf(sim));
    ReaderLink link(device, kt::link::systemClock());

    ASSERT_TRUE(link.openPort(kPort, "19200,e,8,1"));
    ASSERT_TRUE(link.transact("A00B"));
    ASSERT_EQ(sim.command("hangup"), "ok hangup");
    EXPECT_FALSE(link.transact("A00B"));
    link.closePort();
    EXPECT_FALSE(link.openPort(kPort, "19200,e,8,1")) << "the port is gone";
}

} // namespace

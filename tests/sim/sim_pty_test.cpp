// kt4500-sim over a real pseudo-terminal, talked to with plain termios as a serial program
// would.

#include "link/commands.h"
#include "link/frame.h"
#include "link/hex.h"
#include "sim_process.h"
#include "temp_dir.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{

using namespace std::chrono_literals;
using kt::sim::SimProcess;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

speed_t speedOf(int baud)
{
    switch (baud) {
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 115200:
        return B115200;
    default:
        return B38400;
    }
}

// The client end: the link opened as a serial port, raw, at a given baud rate.
class PtyClient
{
public:
    explicit PtyClient(const std::string &path, int baud = 19200)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd >= 0)
            setBaud(baud);
    }
    ~PtyClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PtyClient(const PtyClient &) = delete;
    PtyClient &operator=(const PtyClient &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    void setBaud(int baud)
    {
        termios settings{};
        ASSERT_EQ(::tcgetattr(m_fd, &settings), 0);
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, speedOf(baud));
        ::cfsetospeed(&settings, speedOf(baud));
        ASSERT_EQ(::tcsetattr(m_fd, TCSANOW, &settings), 0);
    }

    void send(std::string_view bytes)
    {
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // From the first LF to the CR after it; empty when none came in time.
    std::string readReply(std::chrono::milliseconds timeout = 10s)
    {
        const auto deadline = Clock::now() + timeout;
        std::string received;
        for (;;) {
            const auto lf = received.find('\n');
            if (lf != std::string::npos) {
                const auto cr = received.find('\r', lf);
                if (cr != std::string::npos)
                    return received.substr(lf, cr - lf + 1);
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return {};
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                return {};
            received.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // What is waiting now, without waiting for more.
    std::string readWaiting()
    {
        char buffer[256];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

    std::string transact(std::string_view command)
    {
        send(kt::link::commandFrame(command));
        return readReply();
    }

private:
    int m_fd = -1;
};

TEST(SimPty, AnswersTheIdentityQueryOnItsLink)
{
    SimProcess sim({"--serial", "KT000042", "--id", "7"});
    ASSERT_TRUE(sim.isRunning());
    PtyClient client(sim.linkPath());
    ASSERT_TRUE(client.isOpen());

    const std::string reply = client.transact("A00B");
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_TRUE(kt::link::checkFrame(reply));
    EXPECT_EQ(kt::link::readerIdField(reply), "07");
    EXPECT_EQ(kt::link::serialNumberField(reply), "KT000042");
}

TEST(SimPty, WrongBaudRateGetsNoAnswer)
{
    for (int baud : {4800, 9600, 115200}) {
        SCOPED_TRACE(baud);
        SimProcess sim;
        ASSERT_TRUE(sim.isRunning());
        PtyClient client(sim.linkPath(), baud);
        ASSERT_TRUE(client.isOpen());

        client.send(kt::link::commandFrame("A00B"));
        // Once the simulator has logged that it ignored the frame, no reply can follow.
        ASSERT_TRUE(sim.waitForLog("ignored: line at " + std::to_string(baud) + " baud"));
        EXPECT_EQ(client.readWaiting(), "");

        client.setBaud(19200);
        EXPECT_EQ(client.transact("A00B").size(), 16u);
    }
}

TEST(SimPty, CardPresentedOnStandardInputShowsInTheCardQuery)
{
    SimProcess sim;
    ASSERT_TRUE(sim.isRunning());
    PtyClient client(sim.linkPath());

    EXPECT_NE(client.transact("A00F").size(), 17u);
    ASSERT_EQ(sim.command("card 00bc614e"), "ok card 00BC614E");
    const std::string reply = client.transact("A00F");
    ASSERT_EQ(reply.size(), 17u);
    EXPECT_EQ(kt::link::hexToInt(kt::link::cardNumberField(reply)), 12345678);

    ASSERT_EQ(sim.command("nocard"), "ok nocard");
    EXPECT_NE(client.transact("A00F").size(), 17u);
    EXPECT_EQ(sim.command("state"), "id 01 mode 101 line 5 (19200 baud) card none");
}

TEST(SimPty, LogFileHoldsTheFramesBothWays)
{
    SimProcess sim;
    ASSERT_TRUE(sim.isRunning());
    PtyClient client(sim.linkPath());
    ASSERT_EQ(client.transact("A00B").size(), 16u);

    ASSERT_TRUE(sim.waitForLog(" tx 0A 42 30 31 2C"));
    const std::string log = sim.log();
    EXPECT_NE(log.find(" rx 09 41 30 30 42 30 41 0D |.A00B0A.|\n"), std::string::npos) << log;
    EXPECT_LT(log.find(" rx 09 41 30 30 42"), log.find(" tx 0A 42")) << log;
}

TEST(SimPty, NewLineSettingsAnswerAfterTheAcknowledgement)
{
    SimProcess sim;
    ASSERT_TRUE(sim.isRunning());
    PtyClient client(sim.linkPath());

    EXPECT_TRUE(kt::link::checkFrame(client.transact("A00E3"))) << "acknowledged at 19200";
    client.send(kt::link::commandFrame("A00B"));
    ASSERT_TRUE(sim.waitForLog("ignored: line at 19200 baud, reader at 9600"));
    EXPECT_EQ(client.readWaiting(), "");

    client.setBaud(9600);
    EXPECT_EQ(client.transact("A00B").size(), 16u);
    EXPECT_NE(sim.log().find(" line 3 (9600 baud)\n"), std::string::npos);
}

TEST(SimPty, DelayedReplyIsLostWhenTheClientChangesItsBaudRate)
{
    SimProcess sim;
    ASSERT_TRUE(sim.isRunning());
    // Long enough for the test to change the baud rate before the reply is due.
    ASSERT_EQ(sim.command("delay 1500"), "ok delay 1500");
    PtyClient client(sim.linkPath());

    client.send(kt::link::commandFrame("A00B"));
    ASSERT_TRUE(sim.waitForLog(" rx 09 41 30 30 42 30 41 0D |.A00B0A.|\n"));
    client.setBaud(9600);
    ASSERT_TRUE(sim.waitForLog(" lost: line now at 9600 baud, reader at 19200"));
    EXPECT_EQ(client.readWaiting(), "");
}

TEST(SimPty, ClientCanCloseAndReopenThePort)
{
    SimProcess sim;
    ASSERT_TRUE(sim.isRunning());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        PtyClient client(sim.linkPath());
        ASSERT_TRUE(client.isOpen());
        EXPECT_EQ(client.transact("A00B").size(), 16u);
    }
}

TEST(SimPty, HangupIsSeenByTheClient)
{
    SimProcess sim;
    ASSERT_TRUE(sim.isRunning());
    PtyClient client(sim.linkPath());
    ASSERT_EQ(client.transact("A00B").size(), 16u);

    ASSERT_EQ(sim.command("hangup"), "ok hangup");
    pollfd p{client.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
    char byte;
    EXPECT_LE(::read(client.fd(), &byte, 1), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.linkPath())));

    // Still there for its standard input until told to quit.
    EXPECT_EQ(sim.command("hangup"), "error: already hung up");
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimPty, SignalRemovesTheLinkAndEndsCleanly)
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        SimProcess sim;
        ASSERT_TRUE(sim.isRunning());
        ASSERT_TRUE(fs::is_symlink(sim.linkPath()));
        EXPECT_EQ(sim.stopBySignal(signal), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(sim.linkPath())));
    }
}

TEST(SimPty, StaleLinkIsReplaced)
{
    SimProcess sim({}, "COM5", [](const std::string &dir) {
        fs::create_symlink("/dev/pts/none", dir + "/COM5");
    });
    ASSERT_TRUE(sim.isRunning());
    PtyClient client(sim.linkPath());
    ASSERT_TRUE(client.isOpen());
    EXPECT_EQ(client.transact("A00V").size(), 16u);
}

TEST(SimPty, RefusesToReplaceAnythingButALink)
{
    const kt::test::TempDir dir("kt4500-sim-file");
    const fs::path file = dir.path() / "COM3";
    std::ofstream(file) << "keep me\n";

    const auto run = kt::sim::runSim({"--link", file.string()});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("not a symbolic link"), std::string::npos) << run.output;
    std::ifstream kept(file);
    std::string content;
    std::getline(kept, content);
    EXPECT_EQ(content, "keep me");
}

TEST(SimPty, BadOptionsAreRefusedBeforeAnythingIsCreated)
{
    const kt::test::TempDir dir("kt4500-sim-opt");
    const std::string link = dir.file("COM3");
    const std::vector<std::vector<std::string>> cases = {
        {"--link", link, "--id", "0"},
        {"--link", link, "--id", "100"},
        {"--link", link, "--id", "7x"},
        {"--link", link, "--serial", "1234567"},
        {"--link", link, "--version", "03.20-0\t"},
        {"--link", link, "--mode", "301"},
        {"--link", link, "--mode", "0011"},
        {"--link", link, "--line", "12"},
        {"--link", link, "--line", "-1"},
        {"--link", link, "--bogus", "1"},
        {"--link", link, "--id"},
        {"--id", "7"},
    };
    for (const auto &args : cases) {
        SCOPED_TRACE(args.back());
        const auto run = kt::sim::runSim(args);
        EXPECT_EQ(run.exitStatus, 2) << run.output;
        EXPECT_NE(run.output.find("kt4500-sim: "), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }
}

TEST(SimPty, HelpNamesEveryOptionAndCommand)
{
    const auto run = kt::sim::runSim({"--help"});
    EXPECT_EQ(run.exitStatus, 0);
    for (const char *word : {"--link PATH",
                             "--serial",
                             "--id",
                             "--version",
                             "--mode",
                             "--line",
                             "--log",
                             "--seed",
                             "card XXXXXXXX",
                             "nocard",
                             "silent on|off",
                             "delay MS",
                             "badsum on|off",
                             "lowersum on|off",
                             "stray on|off",
                             "idlen N",
                             "badfields on|off",
                             "corrupt PERCENT",
                             "hangup",
                             "state",
                             "quit"}) {
        EXPECT_NE(run.output.find(word), std::string::npos) << word;
    }
}

} // namespace

// The POSIX serial layer against a real pseudo-terminal: the test holds the master end (the
// "reader") and a descriptor of its own on the slave, as the simulator does.
#include "link/posix/poll_wait.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "log/log.h"
#include "temp_dir.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace kt::link;
using kt::test::TempDir;

namespace
{
constexpr int kPort = 3;

int openDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// The plain wait; the waits on the port's descriptor are counted, and onWait runs as each
// of them begins (the frame's pacing waits on nothing).
class CountingWait final : public EventWait
{
public:
    void waitFor(std::uint32_t ms, std::optional<int> readable) override
    {
        counted(readable);
        m_poll.waitFor(ms, readable);
    }
    void waitForMicros(std::uint64_t us, std::optional<int> readable) override
    {
        counted(readable);
        m_poll.waitForMicros(us, readable);
    }

    int waits = 0;
    std::function<void()> onWait;

private:
    void counted(std::optional<int> readable)
    {
        if (!readable)
            return;
        ++waits;
        if (onWait)
            onWait();
    }

    PollWait m_poll;
};

class PtyTest : public testing::Test
{
protected:
    void SetUp() override
    {
        char name[128] = {};
        ASSERT_EQ(::openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
        m_slaveName = name;
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        std::filesystem::create_symlink(m_slaveName, ports.path() / "COM3");
    }
    void TearDown() override
    {
        closeMaster();
        ::close(m_slave);
    }

    PosixSerialDevice::Folders folders() const { return {ports.str(), "", locks.str()}; }
    std::filesystem::path lockFile() const
    {
        return locks.path() / uucpLockName(std::filesystem::canonical(m_slaveName).string());
    }

    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    // Everything the tool has put on the line, waiting up to 2 s for `count` bytes.
    std::string readLine(std::size_t count)
    {
        std::string seen;
        for (int waits = 0; seen.size() < count && waits < 200; ++waits) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                char buffer[256];
                const ssize_t n = ::read(m_master, buffer, sizeof buffer);
                if (n > 0)
                    seen.append(buffer, static_cast<std::size_t>(n));
            }
        }
        return seen;
    }
    void reply(std::string_view bytes)
    {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    // As the reader does: hears a frame of `length` bytes into `heard`, then answers it with
    // `bytes`, on a thread of its own while the link waits.
    std::thread answerFrame(std::size_t length, std::string bytes, std::string &heard)
    {
        return std::thread([this, length, bytes = std::move(bytes), &heard] {
            heard = readLine(length);
            [[maybe_unused]] const auto n = ::write(m_master, bytes.data(), bytes.size());
        });
    }
    termios slaveTermios() const
    {
        termios t{};
        EXPECT_EQ(::tcgetattr(m_slave, &t), 0);
        return t;
    }

    TempDir ports;
    TempDir locks;
    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
};
} // namespace

TEST_F(PtyTest, PutsTheExactFrameOnTheLineAndTakesOnlyTheReplyThatFollowsIt)
{
    // A whole, valid frame that waited in the input before the open, and one that came in
    // between two commands (a reply that came too late): neither answers the next command.
    termios raw = slaveTermios();
    ::cfmakeraw(&raw); // no echo of the early frame back to the reader's end
    ASSERT_EQ(::tcsetattr(m_slave, TCSANOW, &raw), 0);
    reply("\n0A\r");
    PosixSerialDevice device(folders());
    ReaderLink link(device, systemClock());
    ASSERT_TRUE(link.openPort(kPort, "19200,e,8,1"));
    EXPECT_FALSE(link.transact("A00V"));
    EXPECT_EQ(readLine(8), "\tA00V1E\r");
    reply("\n0A\r");
    EXPECT_FALSE(link.transact("A00V"));
    EXPECT_EQ(readLine(8), "\tA00V1E\r");

    // The reply to the frame is taken. Its CR also proves the line is raw (no CR to LF).
    std::string frame;
    std::thread reader = answerFrame(8, "\n0A\r", frame);
    EXPECT_TRUE(link.transact("A00B"));
    reader.join();
    EXPECT_EQ(frame, std::string("\x09\x41\x30\x30\x42\x30\x41\x0D"));
    EXPECT_EQ(link.lastReply(), "\n0A\r");

    // A second frame right behind the reply arrives with it, in the same read: it is dropped
    // with the rest of the input before the next command, not taken as that command's answer.
    reader = answerFrame(8, "\n0A\r\n0A\r", frame);
    EXPECT_TRUE(link.transact("A00B"));
    reader.join();
    EXPECT_FALSE(link.transact("A00V"));
    EXPECT_EQ(readLine(8), "\tA00V1E\r");
    link.closePort();
}

TEST_F(PtyTest, HoldsThePortAgainstASecondOpener)
{
    PosixSerialDevice first(folders());
    ASSERT_TRUE(first.open(kPort, "9600,n,8,1"));
    std::ifstream lock(lockFile());
    int lockPid = 0;
    lock >> lockPid;
    EXPECT_EQ(lockPid, ::getpid());

    PosixSerialDevice second(folders());
    EXPECT_FALSE(second.open(kPort, "9600,n,8,1"));
    EXPECT_EQ(second.openError().kind, PortError::Busy);
    EXPECT_FALSE(second.isOpen());
    EXPECT_FALSE(first.open(kPort, "19200,e,8,1")); // a nested open leaves the port alone

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PosixSerialDevice other(folders());
        const bool refused = !other.open(kPort, "9600,n,8,1");
        ::_exit(refused && other.openError().kind == PortError::Busy ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process got in";

    // The refused openers did not disturb the first one.
    ASSERT_TRUE(first.isOpen());
    const std::uint8_t byte = 'Z';
    EXPECT_TRUE(first.write(std::span(&byte, 1)));
    EXPECT_EQ(readLine(1), "Z");
    EXPECT_TRUE(std::filesystem::exists(lockFile()));

    first.close();
    EXPECT_FALSE(std::filesystem::exists(lockFile()));
    EXPECT_TRUE(second.open(kPort, "9600,n,8,1"));
}

TEST_F(PtyTest, RespectsEachWayAnotherProgramHoldsThePort)
{
    const struct {
        const char *name;
        bool (*hold)(int fd);
    } holders[] = {
        {"flock, as picocom and tio", [](int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }},
        {"TIOCEXCL, as Qt and gpsd", [](int fd) { return ::ioctl(fd, TIOCEXCL) == 0; }},
    };
    for (const auto &h : holders) {
        SCOPED_TRACE(h.name);
        const int other = ::open(m_slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(other, 0);
        ASSERT_TRUE(h.hold(other));
        PosixSerialDevice device(folders());
        EXPECT_FALSE(device.open(kPort, "9600,n,8,1"));
        EXPECT_EQ(device.openError().kind, PortError::Busy);
        ::ioctl(other, TIOCNXCL);
        ::close(other);
        EXPECT_TRUE(device.open(kPort, "9600,n,8,1"));
    }
}

TEST_F(PtyTest, JudgesAnExistingLockFileByItsProcess)
{
    const pid_t gone = ::fork();
    ASSERT_GE(gone, 0);
    if (gone == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);

    const struct {
        const char *name;
        std::string content;
        bool opens;
    } cases[] = {
        {"stale", std::to_string(gone) + "\n", true},
        {"garbage", "not a pid\n", true},
        {"live", "  " + std::to_string(::getppid()) + "\n", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(lockFile()) << c.content;
        PosixSerialDevice device(folders());
        EXPECT_EQ(device.open(kPort, "9600,n,8,1"), c.opens);
        if (c.opens) {
            std::ifstream lock(lockFile());
            int pid = 0;
            lock >> pid;
            EXPECT_EQ(pid, ::getpid());
            device.close();
        } else {
            EXPECT_EQ(device.openError().kind, PortError::Busy);
            EXPECT_EQ(device.openError().holderPid, ::getppid()) << device.openError().text();
        }
        std::filesystem::remove(lockFile());
    }
}

TEST_F(PtyTest, RemovesTheLockFileAtCloseOnlyWhileItIsOurs)
{
    PosixSerialDevice device(folders());
    ASSERT_TRUE(device.open(kPort, "9600,n,8,1"));
    device.close();
    EXPECT_FALSE(std::filesystem::exists(lockFile()));

    ASSERT_TRUE(device.open(kPort, "9600,n,8,1"));
    std::ofstream(lockFile()) << "      4242\n"; // another program's now
    device.close();
    EXPECT_TRUE(std::filesystem::exists(lockFile()));
    std::filesystem::remove(lockFile());
}

TEST_F(PtyTest, RestoresReadTimeoutsButKeepsTheLineSettings)
{
    termios before = slaveTermios();
    before.c_cc[VMIN] = 5;
    before.c_cc[VTIME] = 7;
    cfsetispeed(&before, B9600);
    cfsetospeed(&before, B9600);
    ASSERT_EQ(::tcsetattr(m_slave, TCSANOW, &before), 0);

    PosixSerialDevice device(folders());
    ASSERT_TRUE(device.open(kPort, "38400,n,8,1"));
    termios during = slaveTermios();
    EXPECT_EQ(during.c_cc[VMIN], 1);
    EXPECT_EQ(during.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&during), B38400);

    device.close();
    const termios after = slaveTermios();
    EXPECT_EQ(after.c_cc[VMIN], 5);
    EXPECT_EQ(after.c_cc[VTIME], 7);
    EXPECT_EQ(cfgetospeed(&after), B38400);
    EXPECT_EQ(after.c_lflag & ICANON, 0u);
}

namespace
{
std::string g_warnings;
void collectWarnings(const kt::log::Category &category, kt::log::Level level,
                     std::string_view message)
{
    if (level == kt::log::Level::Warning && std::string_view(category.name) == "kt4500.link"
        && message.find("not understood") != std::string_view::npos)
        g_warnings.append(message).append("\n");
}
} // namespace

TEST_F(PtyTest, OpensWithUnparseableSettingsAndKeepsTheLine)
{
    termios before = slaveTermios();
    cfsetispeed(&before, B4800);
    cfsetospeed(&before, B4800);
    ASSERT_EQ(::tcsetattr(m_slave, TCSANOW, &before), 0);

    PosixSerialDevice device(folders());
    ReaderLink link(device, systemClock());
    ASSERT_TRUE(link.openPort(kPort, "fast, please"));
    const termios during = slaveTermios();
    EXPECT_EQ(cfgetospeed(&during), B4800);
    std::string frame;
    std::thread reader = answerFrame(8, "\n0A\r", frame);
    EXPECT_TRUE(link.transact("A00B")); // still raw enough to read a frame
    reader.join();
    link.closePort();

    // The text was named by the open above; opening with it again says nothing, a new one is
    // named once.
    g_warnings.clear();
    const auto previous = kt::log::setSink(collectWarnings);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(link.openPort(kPort, "fast, please"));
        link.closePort();
    }
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(link.openPort(kPort, "19200,x,8,1"));
        link.closePort();
    }
    kt::log::setSink(previous);
    EXPECT_EQ(std::count(g_warnings.begin(), g_warnings.end(), '\n'), 1) << g_warnings;
    EXPECT_NE(g_warnings.find("\"19200,x,8,1\" not understood"), std::string::npos) << g_warnings;
}

TEST_F(PtyTest, HangUpFailsTheReadAndTheTransaction)
{
    PosixSerialDevice device(folders());
    CountingWait wait;
    ReaderLink link(device, systemClock(), &wait);
    ASSERT_TRUE(link.openPort(kPort, "19200,e,8,1"));
    closeMaster();

    std::uint8_t byte = 0;
    EXPECT_EQ(device.readByte(byte), ReadResult::HungUp);
    EXPECT_FALSE(link.transact("A00B"));
    EXPECT_EQ(wait.waits, 0); // it ended at the first read, without waiting out the window
    link.closePort();
    EXPECT_FALSE(device.isOpen());
}

TEST_F(PtyTest, AReplyEndsTheWaitForIt)
{
    PosixSerialDevice device(folders());
    CountingWait wait;
    ReaderLink link(device, systemClock(), &wait);
    ASSERT_TRUE(link.openPort(kPort, "19200,e,8,1"));
    // The reply comes while the link sleeps: only the port's descriptor can wake it before
    // the window has closed, and a wait that sleeps the window out reads nothing after it.
    wait.onWait = [&] {
        wait.onWait = {};
        reply("\n0A\r");
    };
    EXPECT_TRUE(link.transact("A00B"));
    EXPECT_EQ(wait.waits, 1);
    link.closePort();
}

// The reply window ends as the clock turns to its 121st millisecond: the wait is told the
// microseconds to that tick, and must not wake before it (the loop would spin to it) nor read
// the tick's distance wrongly across the clock's wrap.
TEST_F(PtyTest, AWaitToAMillisecondTickEndsAtTheTickNotBefore)
{
    Clock &clock = systemClock();
    const std::uint32_t now = clock.nowMs();
    EXPECT_EQ(clock.microsUntil(now), 0u);
    EXPECT_EQ(clock.microsUntil(now - 1), 0u);
    EXPECT_EQ(clock.microsUntil(now - 0x7FFFFFFFu), 0u);
    const std::uint64_t toSecond = clock.microsUntil(now + 1000);
    EXPECT_GT(toSecond, 0u);
    EXPECT_LE(toSecond, 1'000'000u);

    PosixSerialDevice device(folders());
    ASSERT_TRUE(device.open(kPort, "19200,e,8,1"));
    PollWait wait;
    for (const std::optional<int> readable : {std::optional<int>(), device.readableDescriptor()}) {
        const std::uint32_t tick = clock.nowMs() + 3;
        wait.waitForMicros(clock.microsUntil(tick), readable);
        EXPECT_GE(static_cast<std::int32_t>(clock.nowMs() - tick), 0);
    }
    device.close();
}

TEST_F(PtyTest, FailedOpensLeaveNothingBehind)
{
    std::filesystem::create_symlink("/nonexistent/ttyUSB9", ports.path() / "COM8");
    std::ofstream(ports.path() / "COM9") << "a regular file";

    PosixSerialDevice holder(folders());
    ASSERT_TRUE(holder.open(kPort, "9600,n,8,1"));
    const int baseline = openDescriptors();

    const struct {
        int port;
        PortError error;
    } cases[] = {
        {7, PortError::NoSuchDevice}, // no entry
        {8, PortError::NoSuchDevice}, // entry, no device
        {9, PortError::NotATerminal}, // not a terminal
        {kPort, PortError::Busy},
    };
    for (int round = 0; round < 3; ++round) {
        for (const auto &c : cases) {
            SCOPED_TRACE(c.port);
            PosixSerialDevice device(folders());
            EXPECT_FALSE(device.open(c.port, "9600,n,8,1"));
            EXPECT_EQ(device.openError().kind, c.error);
            EXPECT_FALSE(device.isOpen());
            device.close(); // must not touch anything
        }
    }
    EXPECT_EQ(openDescriptors(), baseline);
    EXPECT_TRUE(holder.isOpen());
    EXPECT_TRUE(std::filesystem::exists(lockFile()));
}

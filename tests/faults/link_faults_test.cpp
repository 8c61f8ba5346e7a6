// The reader operations over a real pseudo-terminal when the line misbehaves: kt4500-sim hangs
// up in the middle of an exchange, another program holds the port, the device is not
// readable for this user, a device floods the line. The real POSIX serial device and
// ReaderLink carry the bytes and the real settings file is beside them; each fault must end
// in the operation's own failure outcome, with the port closed and the file as it was.

#include "ctl_process.h"
#include "fault_rig.h"
#include "link/commands.h"
#include "link/frame.h"
#include "link/posix/poll_wait.h"
#include "link/posix/port_names.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "ops/operations.h"
#include "recording_store.h"
#include "settings/posix/reg_file_store.h"
#include "sim_process.h"
#include "sim_reader.h"
#include "text/text_table.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{

using kt::link::PosixSerialDevice;
using kt::sim::SimProcess;
using kt::test::FakeView;
using kt::test::readFile;
using kt::test::TappedDevice;

constexpr int kPort = 3; // SimProcess links COM3

// The key as a sweep that found the reader on COM3 at 19200,e,8,1 left it.
constexpr std::string_view kStoredKey = "REGEDIT4\n"
                                        "\n"
                                        "[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n"
                                        "\"ScanCommNo\"=dword:00000003\n"
                                        "\"ScanBaudRateNo\"=dword:00000005\n"
                                        "\"ScanBaudRate\"=\"19200,e,8,1\"\n"
                                        "\"LanguageFlag\"=\"English\"\n";

PosixSerialDevice::Folders foldersOf(const SimProcess &sim)
{
    return {sim.portDir(), sim.dir() + "/no-etc-ports", sim.dir()};
}

// One technician's machine: the simulator on COM3, the settings file, the window and the
// link, which waits asleep on the port as kt4500ctl does.
struct Machine {
    explicit Machine(std::vector<std::string> simArgs = {}, std::string_view key = kStoredKey)
        : sim(std::move(simArgs))
    {
        kt::text::setLanguage(kt::text::Language::English);
        kt::test::writeFile(settingsPath, key);
        settings = kt::settings::loadSettings(store).settings;
    }

    kt::ops::Context context() { return {link, view, settings, state, &savedTo}; }

    // The last lamp, message and beep of the operation, as one line.
    std::string outcome() const
    {
        std::string lamp;
        std::string message;
        std::string beep;
        for (const std::string &e : view.events) {
            if (e.starts_with("lamp Comm "))
                lamp = e;
            else if (e.starts_with("text Msg "))
                message = e;
            else if (e.starts_with("beep "))
                beep = e;
        }
        return lamp + " / " + message + " / " + beep;
    }

    SimProcess sim;
    std::string settingsPath = sim.dir() + "/ReaderConfig.reg";
    kt::settings::RegFileStore store{settingsPath};
    PosixSerialDevice device{foldersOf(sim)};
    TappedDevice tap{device};
    kt::settings::AppSettings settings;
    FakeView view;
    // Saves of the operations really write the settings file, as the window's do.
    kt::test::RecordingStore savedTo{view.events, &store};
    kt::link::PollWait wait;
    kt::link::ReaderLink link{tap, kt::link::systemClock(), &wait};
    kt::ops::ReaderState state;
};

std::string failure(std::string_view message)
{
    return "lamp Comm Red / text Msg " + std::string(message) + " / beep 300 300";
}

std::string success(std::string_view message)
{
    return "lamp Comm Yellow / text Msg " + std::string(message) + " / beep 1000 300";
}

// Holds a port in a process of its own, as another serial program would, until destroyed.
class PortHolder
{
public:
    PortHolder(const SimProcess &sim, int port)
    {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            PosixSerialDevice device(foldersOf(sim));
            const char opened = device.open(port, "19200,e,8,1") ? '1' : '0';
            [[maybe_unused]] auto n = ::write(ready[1], &opened, 1);
            char ignored;
            n = ::read(release[0], &ignored, 1); // returns once the parent closes its end
            device.close();
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        char opened = '0';
        m_holding = ::read(ready[0], &opened, 1) == 1 && opened == '1';
        ::close(ready[0]);
    }
    ~PortHolder() { release(); }

    bool isHolding() const { return m_holding; }
    void release()
    {
        if (m_release >= 0)
            ::close(std::exchange(m_release, -1));
        if (m_pid > 0)
            ::waitpid(std::exchange(m_pid, -1), nullptr, 0);
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_holding = false;
};

struct HangUpCase {
    const char *name;
    const char *hangUpAt; // the command whose frame is cut off by the hang-up
    bool readerFound;     // before the click
    std::function<void(kt::ops::Context &)> click;
    std::string outcome;
    bool readerFoundAfter;
};

TEST(LinkFaults, HangUpMidExchangeEndsInTheOperationsFailure)
{
    const HangUpCase cases[] = {
        {"scan, at the version query", "A00V", false, kt::ops::scanReader,
         failure("Get Reader Info Error. (COM : #3)"), false},
        {"scan, at the mode query", "A00A", false, kt::ops::scanReader,
         failure("Get Reader Info Error. (COM : #3)"), false},
        {"set reader ID", "A00C", true, kt::ops::setReaderId, failure("Set Reader ID Error"), true},
        {"set line settings", "A00E", true, kt::ops::setLineSettings,
         failure("Set Reader BaudRate Error"), true},
        {"preset, at its mode command", "A00A021", true,
         [](kt::ops::Context &ctx) { kt::ops::applyPreset(ctx, kt::ops::Preset::Wiegand42); },
         failure("Set Default Wiegand 42 Error"), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Machine m({"--id", "7"});
        ASSERT_TRUE(m.sim.isRunning());
        m.state.readerFound = c.readerFound;
        m.view.panels[kt::ops::Panel::ID] = "07";
        m.tap.onWrite(c.hangUpAt, [&] { EXPECT_EQ(m.sim.command("hangup"), "ok hangup"); });

        auto ctx = m.context();
        c.click(ctx);

        EXPECT_EQ(m.outcome(), c.outcome) << m.view.dump();
        EXPECT_EQ(m.state.readerFound, c.readerFoundAfter);
        EXPECT_FALSE(m.device.isOpen());
        EXPECT_TRUE(m.view.windowEnabled);
        EXPECT_EQ(m.settings.lineSettingsText, "19200,e,8,1") << "a failed change is not taken";
        EXPECT_EQ(readFile(m.settingsPath), kStoredKey);
    }
}

TEST(LinkFaults, PresetCutOffAfterItsIdCommandLeavesTheReaderHalfSet)
{
    // The reader takes the ID before the line goes; the window reports the preset's error.
    Machine m({"--id", "7", "--mode", "100"});
    ASSERT_TRUE(m.sim.isRunning());
    m.state.readerFound = true;
    m.tap.onWrite("A00A001", [&] { m.sim.command("hangup"); });
    auto ctx = m.context();
    kt::ops::applyPreset(ctx, kt::ops::Preset::FactoryW26);

    EXPECT_EQ(m.outcome(), failure("Set Default Wiegand 26 Error"));
    EXPECT_EQ(m.sim.command("state").substr(0, 14), "id 01 mode 100");
}

TEST(LinkFaults, HangUpDuringTheCardLoopEndsItAsReaderNotFound)
{
    Machine m;
    ASSERT_TRUE(m.sim.isRunning());
    ASSERT_EQ(m.sim.command("card 00BC614E"), "ok card 00BC614E");
    m.state.readerFound = true;
    // Two polls find the card; the third is cut off.
    m.tap.onWrite(
        "A00F", [&] { m.sim.command("hangup"); }, 3);
    auto ctx = m.context();
    kt::ops::readCardClick(ctx);

    EXPECT_EQ(m.view.count("text CardID Card ID : 0012345678  00BC614E(H)"), 2) << m.view.dump();
    EXPECT_EQ(m.outcome(), failure("Reader Not Find"));
    EXPECT_TRUE(m.view.inOrder({"busy off", "lamp Comm Red", "text Msg Reader Not Find",
                                "beep 300 300", "lamp Card White", "text CardID Card ID",
                                "control Exit true", "caption Read Card (Change to RS485 Mode)"}))
        << m.view.dump();
    EXPECT_EQ(m.state.cardLoop, kt::ops::CardLoop::Idle);
    EXPECT_TRUE(m.state.readerFound);
    EXPECT_FALSE(m.device.isOpen());
    EXPECT_EQ(readFile(m.settingsPath), kStoredKey);
}

TEST(LinkFaults, ALateReaderNeverHasItsRepliesTakenForTheNextCommands)
{
    // A slow RS-485 converter: every reply comes after the 120 ms window has closed.
    for (const int delay : {121, 180, 235, 300, 400}) {
        SCOPED_TRACE(delay);
        Machine m({"--id", "7"});
        ASSERT_TRUE(m.sim.isRunning());
        ASSERT_EQ(m.sim.command("delay " + std::to_string(delay)),
                  "ok delay " + std::to_string(delay));
        m.state.readerFound = true;
        m.view.panels[kt::ops::Panel::ID] = "42";
        auto ctx = m.context();
        kt::ops::setReaderId(ctx);
        // An acknowledgement that comes too late makes a set that was taken fail; that is
        // no harm. A success the reader did not take is.
        if (m.outcome() == success("Set Reader ID Ok")) {
            EXPECT_TRUE(m.sim.command("state").starts_with("id 42 ")) << m.sim.log();
        }
        EXPECT_EQ(m.sim.log().find("serial number does not match"), std::string::npos)
            << m.sim.log();
        EXPECT_FALSE(m.device.isOpen());
    }
}

TEST(LinkFaults, PortHeldByAnotherProgramIsReportedAndFreedLater)
{
    const struct {
        const char *name;
        bool readerFound;
        std::function<void(kt::ops::Context &)> click;
        std::string outcome;
    } cases[] = {
        {"scan", false, kt::ops::scanReader, failure("Reader Not Find")},
        {"set reader ID", true, kt::ops::setReaderId, failure("Set Reader ID Error")},
        {"preset", true,
         [](kt::ops::Context &ctx) { kt::ops::applyPreset(ctx, kt::ops::Preset::RS485Fast); },
         failure("Set Default RS485 115200 Error")},
        {"card loop", true, kt::ops::readCardClick, failure("Open COM : 3 Error")},
    };
    Machine m;
    ASSERT_TRUE(m.sim.isRunning());
    kt::test::LogCapture log;
    PortHolder holder(m.sim, kPort);
    ASSERT_TRUE(holder.isHolding());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        m.view.events.clear();
        m.state.readerFound = c.readerFound;
        auto ctx = m.context();
        c.click(ctx);
        EXPECT_EQ(m.outcome(), c.outcome) << m.view.dump();
        EXPECT_FALSE(m.device.isOpen());
    }
    EXPECT_TRUE(log.contains("busy")) << "the log names why the port did not open";
    EXPECT_EQ(readFile(m.settingsPath), kStoredKey);

    holder.release();
    m.view.events.clear();
    auto ctx = m.context();
    kt::ops::scanReader(ctx);
    EXPECT_EQ(m.outcome(), success("Get Reader Info Ok. (COM : #3)")) << m.view.dump();
}

TEST(LinkFaults, DeviceNotReadableByTheUser)
{
    Machine m;
    ASSERT_TRUE(m.sim.isRunning());
    const std::string device = std::filesystem::read_symlink(m.sim.linkPath());
    // The folders stay open to everyone: only the device itself may refuse.
    std::filesystem::permissions(m.sim.dir(), std::filesystem::perms(0755));
    std::filesystem::permissions(m.sim.portDir(), std::filesystem::perms(0755));
    struct stat before = {};
    ASSERT_EQ(::stat(device.c_str(), &before), 0);
    // Root passes any mode, so as root the child becomes nobody and meets the device's own
    // mode (root's pseudo-terminal, 0620); as another user the mode is taken away for a while.
    const bool isRoot = ::geteuid() == 0;
    if (!isRoot) {
        ASSERT_EQ(::chmod(device.c_str(), 0), 0);
    }

    const auto child = kt::test::runUnprivileged([&] {
        kt::test::LogCapture log;
        PosixSerialDevice port(foldersOf(m.sim));
        FakeView view;
        kt::link::ReaderLink link(port, kt::link::systemClock());
        kt::settings::AppSettings settings{kPort, "19200,e,8,1", 5, "English"};
        kt::ops::ReaderState state;
        state.readerFound = true;
        kt::ops::Context ctx{link, view, settings, state};
        kt::ops::readCardClick(ctx);
        std::string out = "open " + std::string(port.isOpen() ? "yes" : "no") + "\n";
        for (const auto &e : view.events)
            out += e + "\n";
        for (const auto &line : log.lines())
            out += "log " + line + "\n";
        return out;
    });
    if (!isRoot)
        ::chmod(device.c_str(), before.st_mode & 07777);

    ASSERT_TRUE(child.ranUnprivileged) << "cannot become an unprivileged user";
    ASSERT_EQ(child.exitStatus, 0);
    const std::string &out = child.output;
    EXPECT_NE(out.find("open no\n"), std::string::npos) << out;
    EXPECT_NE(out.find("lamp Comm Red\ntext Msg Open COM : 3 Error\nbeep 300 300\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("permission denied"), std::string::npos) << out;
    EXPECT_NE(out.find("dialout"), std::string::npos) << out;
    EXPECT_EQ(out.find("Card ID :"), std::string::npos) << "no poll was made";
}

TEST(LinkFaults, AnExclusiveFlagLeftByAKilledProgramIsSaidPlainly)
{
    Machine m;
    ASSERT_TRUE(m.sim.isRunning());
    const std::string device = std::filesystem::read_symlink(m.sim.linkPath());
    std::filesystem::permissions(m.sim.dir(), std::filesystem::perms(0755));
    std::filesystem::permissions(m.sim.portDir(), std::filesystem::perms(0755));
    ASSERT_EQ(::chmod(device.c_str(), 0666), 0);

    // A program killed outright cannot clear the port's exclusive flag. Root ignores the
    // flag, so both programs run unprivileged.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::close(ready[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(1);
        PosixSerialDevice port(foldersOf(m.sim));
        const char opened = port.open(kPort, "19200,e,8,1") ? '1' : '0';
        [[maybe_unused]] auto n = ::write(ready[1], &opened, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char opened = '0';
    EXPECT_EQ(::read(ready[0], &opened, 1), 1);
    ::close(ready[0]);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ASSERT_EQ(opened, '1');

    const auto child = kt::test::runUnprivileged([&] {
        kt::test::LogCapture log;
        PosixSerialDevice port(foldersOf(m.sim));
        const bool opens = port.open(kPort, "19200,e,8,1");
        return std::string(opens ? "opened" : "refused")
               + (port.openError().exclusiveLeftBehind ? " left behind\n" : "\n")
               + (log.lines().empty() ? "" : log.lines().back());
    });
    ASSERT_TRUE(child.ranUnprivileged) << "cannot become an unprivileged user";
    EXPECT_EQ(child.output, "refused left behind\nkt4500.link: COM3 (" + m.sim.linkPath()
                                + "): busy: marked exclusive by a program that ended; "
                                  "re-create the device or restart the bridge");
}

// A device that sends bytes without end and never a line feed: a babbling converter. One that
// starts at a card poll first answers as a reader does, so that a program gets that far.
class Flood
{
public:
    enum class Start { AtOnce, AtTheFirstCardPoll };

    Flood(const std::string &portDir, int port, std::size_t bytes, Start start = Start::AtOnce)
        : m_link(portDir + "/COM" + std::to_string(port))
    {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
            return;
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        // No echo: what comes back from the port is what the program on it wrote.
        termios raw{};
        ::tcgetattr(m_slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_slave, TCSANOW, &raw);
        std::filesystem::create_symlink(::ttyname(m_slave), m_link);
        m_feeder = std::thread([this, bytes, start] { feed(bytes, start); });
    }
    ~Flood()
    {
        m_stop = true;
        if (m_feeder.joinable())
            m_feeder.join();
        ::close(m_master);
        ::close(m_slave);
        std::error_code ignored;
        std::filesystem::remove(m_link, ignored);
    }
    std::size_t sent() const { return m_sent; }
    // How many bytes the program on the port has written: its frames.
    std::size_t heard() const { return m_heard; }
    // Whether the program has sent this command's frame.
    bool hasHeard(std::string_view command) const
    {
        const std::lock_guard lock(m_mutex);
        return m_heardBytes.find(kt::link::commandFrame(command)) != std::string::npos;
    }
    // The pseudo-terminal's own path, which the port's link in the folder leads to.
    std::string device() const { return m_slave >= 0 ? ::ttyname(m_slave) : ""; }

private:
    void feed(std::size_t bytes, Start start)
    {
        const std::string block(4096, 'x');
        kt::sim::SimReader reader;
        bool flooding = start == Start::AtOnce;
        while (!m_stop && m_sent < bytes) {
            pollfd p{m_master, static_cast<short>(POLLIN | (flooding ? POLLOUT : 0)), 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            if ((p.revents & POLLIN) != 0) {
                char heard[256];
                if (const ssize_t n = ::read(m_master, heard, sizeof heard); n > 0) {
                    m_heard += static_cast<std::size_t>(n);
                    const std::string_view bytesHeard(heard, static_cast<std::size_t>(n));
                    {
                        const std::lock_guard lock(m_mutex);
                        m_heardBytes += bytesHeard;
                    }
                    if (!flooding && hasHeard(kt::link::kCardQuery))
                        flooding = true;
                    else if (!flooding)
                        answer(reader, bytesHeard);
                }
            }
            if (!flooding || (p.revents & POLLOUT) == 0)
                continue;
            const ssize_t n =
                ::write(m_master, block.data(), std::min(block.size(), bytes - m_sent));
            if (n > 0)
                m_sent += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
        }
    }

    void answer(kt::sim::SimReader &reader, std::string_view bytes)
    {
        const int rate = kt::sim::lineBaudRate(reader.state().lineIndex);
        for (const kt::sim::Reply &reply : reader.receive(bytes, rate)) {
            for (std::size_t done = 0; done < reply.bytes.size() && !m_stop;) {
                const ssize_t n =
                    ::write(m_master, reply.bytes.data() + done, reply.bytes.size() - done);
                if (n > 0)
                    done += static_cast<std::size_t>(n);
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    return;
            }
            reader.replySent(reply);
        }
    }

    std::string m_link;
    int m_master = -1;
    int m_slave = -1;
    std::atomic<bool> m_stop = false;
    std::atomic<std::size_t> m_sent = 0;
    std::atomic<std::size_t> m_heard = 0;
    mutable std::mutex m_mutex;
    std::string m_heardBytes;
    std::thread m_feeder;
};

TEST(LinkFaults, FloodWithoutLineFeedEndsEveryExchange)
{
    constexpr int kFloodPort = 4;
    constexpr std::size_t kMiB = 1 << 20;
    Machine m;
    ASSERT_TRUE(m.sim.isRunning());
    Flood flood(m.sim.portDir(), kFloodPort, kMiB);
    m.settings.portNumber = kFloodPort;
    m.state.readerFound = true;
    m.view.panels[kt::ops::Panel::ID] = "07";

    // Click after click until the whole flood has gone through the port: each click ends
    // in its error, whether the bytes came in one stream or with pauses.
    int clicks = 0;
    for (; flood.sent() < kMiB && clicks < 200; ++clicks) {
        m.view.events.clear();
        auto ctx = m.context();
        kt::ops::setReaderId(ctx);
        ASSERT_EQ(m.outcome(), failure("Set Reader ID Error")) << m.view.dump();
        ASSERT_FALSE(m.device.isOpen());
    }
    EXPECT_EQ(flood.sent(), kMiB) << "after " << clicks << " clicks";
    EXPECT_EQ(readFile(m.settingsPath), kStoredKey);
}

TEST(LinkFaults, Kt4500ctlEndsOnASignalUnderAFloodAndReleasesThePort)
{
    constexpr int kFloodPort = 4;
    Machine m;
    ASSERT_TRUE(m.sim.isRunning());
    // The release is checked by a user the exclusive flag keeps out.
    std::filesystem::permissions(m.sim.dir(), std::filesystem::perms(0755));
    std::filesystem::permissions(m.sim.portDir(), std::filesystem::perms(0755));
    const kt::test::CtlOptions options{
        {{"KT4500_PORT_DIR", m.sim.portDir()}, {"KT4500_SETTINGS", m.settingsPath}}, {}};

    struct Row {
        std::vector<std::string> args;
        Flood::Start start;
        std::string_view inExchange; // the command whose frame puts the program in the flood
    };
    const Row rows[] = {
        // Only the flooded port, at each of the twelve line settings: without the signal this
        // takes half a minute and more.
        {{"--port", "4", "scan", "--all-line-settings"},
         Flood::Start::AtOnce,
         kt::link::kIdentityQuery},
        // The interrupt is the Cancel click, whose pass would end only at the stream's cut-off.
        {{"--port", "4", "read-cards"}, Flood::Start::AtTheFirstCardPoll, kt::link::kCardQuery},
    };
    for (const Row &row : rows) {
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            SCOPED_TRACE(row.args[2] + ", " + strsignal(signal));
            Flood flood(m.sim.portDir(), kFloodPort, SIZE_MAX, row.start);
            const std::string device = flood.device();
            ASSERT_FALSE(device.empty());
            ASSERT_EQ(::chmod(device.c_str(), 0666), 0);
            kt::test::CtlProcess run(row.args, options);
            ASSERT_TRUE(run.isRunning());
            for (int i = 0; i < 2000 && !flood.hasHeard(row.inExchange); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_TRUE(flood.hasHeard(row.inExchange)) << run.err();
            const std::size_t heardAtSignal = flood.heard();
            run.signal(signal);
            // A hang guard, not a timing: the program ends within a few milliseconds.
            EXPECT_EQ(run.wait(std::chrono::seconds(20)), 130) << run.err();
            // The exchange in progress stopped at the signal: no frame went out after it.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_EQ(flood.heard(), heardAtSignal) << "a frame went out after the signal";
            EXPECT_NE(run.err().find("interrupted"), std::string::npos) << run.err();
            EXPECT_FALSE(std::filesystem::exists("/run/lock/" + kt::link::uucpLockName(device)));

            const auto child = kt::test::runUnprivileged([&] {
                PosixSerialDevice port(foldersOf(m.sim));
                return std::string(port.open(kFloodPort, "19200,e,8,1") ? "opened" : "refused");
            });
            ASSERT_TRUE(child.ranUnprivileged) << "cannot become an unprivileged user";
            EXPECT_EQ(child.output, "opened") << "the port was left exclusive";
        }
    }
    EXPECT_EQ(readFile(m.settingsPath), kStoredKey);
}

TEST(LinkFaults, UnusableStoredLineSettingsAreReplacedByTheSweep)
{
    // A settings file edited by hand: a line-settings text of 100 000 characters and an index
    // far outside the list. The text cannot be applied, so the stored attempt talks at the
    // speed the line was left at, which is not the reader's; the sweep finds the reader at
    // the default entry and stores sane values.
    const std::string key = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n"
                            "\"ScanCommNo\"=dword:00000003\n"
                            "\"ScanBaudRateNo\"=dword:7fffffff\n"
                            "\"ScanBaudRate\"=\""
                            + std::string(100000, '9') + "\"\n\"LanguageFlag\"=\"English\"\n";
    Machine m({}, key);
    ASSERT_TRUE(m.sim.isRunning());
    ASSERT_EQ(m.settings.lineSettingsText.size(), 100000u);
    ASSERT_TRUE(m.device.open(kPort, "9600,n,8,1"));
    m.device.close();

    auto ctx = m.context();
    kt::ops::scanReader(ctx);

    EXPECT_EQ(m.outcome(), success("Get Reader Info Ok. (COM : #3)")) << m.view.dump();
    const auto stored = kt::settings::loadSettings(m.store).settings;
    EXPECT_EQ(stored.portNumber, 3);
    EXPECT_EQ(stored.lineSettingsIndex, 5);
    EXPECT_TRUE(stored.lineSettingsText == "19200,e,8,1") << stored.lineSettingsText.size();
    EXPECT_EQ(stored.languageName, "English");
    EXPECT_EQ(m.view.count("save link"), 1);
}

} // namespace

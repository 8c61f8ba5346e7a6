// kt4500-sim: a KT4500 reader on a pseudo-terminal, for tests, demos and training.

#include "base/posix/write_all.h"
#include "console.h"
#include "link/posix/termios_setup.h"
#include "sim_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace
{

using kt::base::writeAll;
using kt::sim::ConsoleAction;
using kt::sim::Reply;
using kt::sim::SimReader;
using Clock = std::chrono::steady_clock;

constexpr int kExitUsage = 2;
constexpr int kExitSetup = 1;
constexpr std::size_t kMaxInputLine = 1024;

constexpr std::string_view kUsage = R"usage(Usage: kt4500-sim --link PATH [options]

A KT4500 reader on a pseudo-terminal. The terminal's device is linked at PATH (for
example $KT4500_PORT_DIR/COM3); an existing link there is replaced, and the link is
removed at exit (also on SIGTERM, SIGINT and SIGHUP). Once the link is in place, standard
output says "ready PATH". The reader answers frames with a right checksum, and only while
the baud rate the client set on the line equals that of its own line settings (a
pseudo-terminal does not carry parity, so parity is not judged).

Options:
  --link PATH        where to link the terminal's device (required)
  --serial 8CHARS    serial number, 8 printable characters (default 12345678)
  --id N             reader ID, 1..99 (default 1)
  --version 8CHARS   firmware version, 8 printable characters (default 03.20-01)
  --mode DIGITS3     output mode 0..1 (Wiegand, RS485), Wiegand format 0..2 (26, 34, 42),
                     RS485 format 0..2 (24, 32, 40) (default 001)
  --line INDEX       line settings 0..11, from 4800,n,8,1 to 115200,e,8,1
                     (default 5, 19200,e,8,1)
  --log FILE         write the log to FILE (emptied first) instead of standard error
  --seed N           seed of the random damage that "corrupt" does (default: random)
  --help             this text

Standard input, one command a line, each answered by one line on standard output
("ok ...", "error: ...", or what it shows). The end of the input does not stop the
simulator.
  card XXXXXXXX      present a card, 8 hexadecimal characters
  nocard             take the card away
  silent on|off      hear nothing, answer nothing, change nothing
  delay MS           send each reply MS milliseconds after its frame (0..60000); a
                     client that changes its baud rate meanwhile does not get it
  badsum on|off      wrong checksum characters in the replies
  lowersum on|off    checksum characters in lower case (one without letters is unchanged)
  stray on|off       one 0xFF byte before each reply
  idlen N            the identity reply N bytes long, 4..64 (0: the normal 16)
  badfields on|off   '?' in the reader ID field and in the three mode digits
  corrupt PERCENT    damage this share of the replies at random (one bit flipped, one
                     byte lost, or the reply cut short)
  keepid on|off      acknowledge a new reader ID but keep the old one
  unplug             take the reader away: nothing on the line answers until "plug"
  plug SERIAL [ID [LINE]]
                     plug in another reader with that serial number (8 printable
                     characters, no blank), ID (default 1) and line settings index
                     (default 5), no faults and no card, as from its box
  hangup             close the pseudo-terminal and remove the link, as an unplugged
                     converter does; the simulator runs on until quit
  state              show the reader ID, mode digits, line settings and card
  help               list the commands
  quit               stop

Replies, LF first and CR last (the checksum is two characters before the CR):
  A00B   "B", ID (2 digits), ",", serial number (8)           16 bytes
  A00V   "VER:", version (8)                                  16 bytes
  A00A   "MODE", output mode, Wiegand and RS485 digits        11 bytes
  A00F   "CARD:", card number (8)                             17 bytes
         "CARD:" alone without a card                          9 bytes
         Every card query switches the output mode to RS485.
  A00A + 3 digits, A00C + serial number + ID (01..99), A00E + 0..9, A or B:
         "OK" (6 bytes). A00C is taken only with the reader's own serial number. A new
         line setting takes effect once its "OK" has been sent.
  Anything else, and a frame with a wrong checksum, gets no reply.

Log: one line each, milliseconds since start first: "rx" for the bytes heard (or why
they were ignored), "tx" for each reply sent, in hex and as text; then state changes
("id 07", "mode 101", "line 11 (115200 baud)", "card 00BC614E") and the commands read.
)usage";

struct Options {
    std::string link;
    std::string logPath;
    std::optional<std::uint32_t> seed;
    kt::sim::ReaderState state;
};

std::optional<int> integer(std::string_view text, int min, int max)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

// Returns the exit status when the program should end at once (help or a usage error).
std::optional<int> parseOptions(int argc, char **argv, Options &options)
{
    auto fail = [](const std::string &why) {
        std::fprintf(stderr, "kt4500-sim: %s (see --help)\n", why.c_str());
        return std::optional<int>(kExitUsage);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return 0;
        }
        if (i + 1 >= argc)
            return fail(std::string(name.substr(0, 40)) + " needs a value or is unknown");
        const std::string_view value = argv[++i];
        if (name == "--link") {
            options.link = value;
        } else if (name == "--serial") {
            if (!kt::sim::isValidSerialNumber(value))
                return fail("--serial takes 8 printable characters");
            options.state.serialNumber = value;
        } else if (name == "--id") {
            const auto id = integer(value, 1, 99);
            if (!id)
                return fail("--id takes 1..99");
            options.state.readerId = *id;
        } else if (name == "--version") {
            if (!kt::sim::isValidSerialNumber(value))
                return fail("--version takes 8 printable characters");
            options.state.version = value;
        } else if (name == "--mode") {
            if (!kt::sim::isValidMode(value))
                return fail("--mode takes 3 digits: 0..1, 0..2, 0..2");
            options.state.mode = value;
        } else if (name == "--line") {
            const auto line = integer(value, 0, kt::sim::kLineSettingsCount - 1);
            if (!line)
                return fail("--line takes 0..11");
            options.state.lineIndex = *line;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (name == "--seed") {
            const auto seed = integer(value, 0, std::numeric_limits<int>::max());
            if (!seed)
                return fail("--seed takes a number");
            options.seed = static_cast<std::uint32_t>(*seed);
        } else {
            return fail("unknown option " + std::string(name.substr(0, 40)));
        }
    }
    if (options.link.empty())
        return fail("--link PATH is required");
    return std::nullopt;
}

// One line per event, each written at once so that a reader of the file sees it complete.
class Log
{
public:
    explicit Log(int fd)
        : m_fd(fd)
        , m_start(Clock::now())
    {
    }

    void line(std::string_view text)
    {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start);
        std::array<char, 32> stamp{};
        std::snprintf(stamp.data(), stamp.size(), "%8lld ", static_cast<long long>(ms.count()));
        std::string out = stamp.data();
        out += text;
        out += '\n';
        // A full or closed output loses the rest of the line.
        writeAll(m_fd, out);
    }

private:
    int m_fd;
    Clock::time_point m_start;
};

// The pseudo-terminal. The simulator keeps a descriptor on the slave side too: without it
// the master reads end-of-file (and polls POLLHUP) whenever the client closes its port.
class Pty
{
public:
    ~Pty() { close(); }

    bool open(int baudRate, std::string &error)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
            return false;
        }
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        const char *name = ::ptsname(m_master);
        if (name == nullptr) {
            error = std::string("no name for the pseudo-terminal: ") + std::strerror(errno);
            return false;
        }
        m_slaveName = name;
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_slave < 0) {
            error = "cannot open " + m_slaveName + ": " + std::strerror(errno);
            return false;
        }
        // Raw, so that no byte is echoed, translated or held back for a line; the client
        // applies its own settings over these when it opens the port.
        termios settings{};
        if (::tcgetattr(m_slave, &settings) == 0) {
            ::cfmakeraw(&settings);
            settings.c_cflag |= CLOCAL | CREAD;
            ::cfsetispeed(&settings, kt::link::termiosSpeed(static_cast<std::uint32_t>(baudRate)));
            ::cfsetospeed(&settings, kt::link::termiosSpeed(static_cast<std::uint32_t>(baudRate)));
            ::tcsetattr(m_slave, TCSANOW, &settings);
        }
        return true;
    }

    void close()
    {
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
        m_master = m_slave = -1;
    }

    bool isOpen() const { return m_master >= 0; }
    int master() const { return m_master; }
    const std::string &slaveName() const { return m_slaveName; }

    // The baud rate the client put on the line. On Linux the master's termios calls reach
    // the slave's settings; the pty driver drops the parity bits, so only the speed tells.
    int clientBaudRate() const
    {
        termios settings{};
        if (::tcgetattr(m_master, &settings) != 0)
            return 0;
        return static_cast<int>(kt::link::baudRateOf(::cfgetospeed(&settings)));
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
};

// Puts a symbolic link at path to target, replacing a link that is there; never replaces
// anything else.
bool installLink(const std::string &path, const std::string &target, std::string &error)
{
    struct stat existing {
    };
    if (::lstat(path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        error = path + " exists and is not a symbolic link; left alone";
        return false;
    }
    // A link made beside it and renamed over it: there is never a moment without one.
    const std::string temporary = path + ".new." + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = "cannot create the link " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot create the link " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Removes the link only while it still points at this simulator's terminal: another
// simulator may have replaced it since, and the terminal's number will be reused.
void removeLink(const std::string &path, const std::string &target)
{
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    if (n > 0 && std::string_view(buffer.data(), static_cast<std::size_t>(n)) == target)
        ::unlink(path.c_str());
}

int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

bool installSignals(std::string &error)
{
    if (::pipe(g_signalPipe) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    for (int fd : g_signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    // Run in the background of a terminal, reading it must fail rather than stop us.
    std::signal(SIGTTIN, SIG_IGN);
    std::signal(SIGTTOU, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

std::string printable(std::string_view text)
{
    std::string out;
    for (char c : text)
        out += c >= 0x20 && c <= 0x7E ? c : '.';
    return out;
}

struct Pending {
    Reply reply;
    Clock::time_point due;
};

class Simulator
{
public:
    Simulator(const Options &options, Log &log)
        : m_options(options)
        , m_log(log)
        , m_reader(options.state, options.seed ? *options.seed : std::random_device{}())
    {
        m_reader.setNote([this](std::string_view text) { m_log.line(text); });
    }

    int run()
    {
        std::string error;
        if (!installSignals(error)
            || !m_pty.open(kt::sim::lineBaudRate(m_options.state.lineIndex), error)
            || !installLink(m_options.link, m_pty.slaveName(), error)) {
            std::fprintf(stderr, "kt4500-sim: %s\n", error.c_str());
            m_log.line("stopped: " + error);
            return kExitSetup;
        }
        m_log.line("reader S/N " + m_options.state.serialNumber + " version "
                   + m_options.state.version + ", " + kt::sim::describeState(m_reader.state()));
        m_log.line("link " + m_options.link + " -> " + m_pty.slaveName());
        writeAll(STDOUT_FILENO, "ready " + m_options.link + "\n");

        while (!m_quit) {
            if (!waitAndServe())
                break;
        }
        if (m_pty.isOpen())
            hangUp("stopped");
        else
            m_log.line("stopped");
        return 0;
    }

private:
    // One turn of the loop; false when a signal asks us to stop.
    bool waitAndServe()
    {
        pollfd fds[3] = {{g_signalPipe[0], POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
        if (m_pty.isOpen())
            fds[1].fd = m_pty.master();
        if (m_stdinOpen)
            fds[2].fd = STDIN_FILENO;

        // Without a reply waiting to go out, sleep until something happens.
        int timeout = -1;
        if (!m_pending.empty()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(m_pending.front().due - Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count()));
        }
        if (::poll(fds, 3, timeout) < 0) {
            if (errno == EINTR)
                return true;
            m_log.line(std::string("poll failed: ") + std::strerror(errno));
            return false;
        }
        if (fds[0].revents != 0) {
            m_log.line("signal received");
            return false;
        }
        if (fds[1].revents != 0)
            readPty(fds[1].revents);
        sendDueReplies();
        if (fds[2].revents != 0)
            readInput();
        return true;
    }

    void readPty(short events)
    {
        std::array<char, 512> buffer{};
        for (;;) {
            const ssize_t n = ::read(m_pty.master(), buffer.data(), buffer.size());
            if (n > 0) {
                const int baudRate = m_pty.clientBaudRate();
                const auto now = Clock::now();
                for (auto &reply : m_reader.receive(
                         std::string_view(buffer.data(), static_cast<std::size_t>(n)), baudRate)) {
                    auto due = now + std::chrono::milliseconds(reply.delayMs);
                    // Replies leave in the order of their frames.
                    if (!m_pending.empty() && m_pending.back().due > due)
                        due = m_pending.back().due;
                    m_pending.push_back({std::move(reply), due});
                }
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // Nothing to read although poll() says hung up: stop polling it rather
                // than wake up for it again and again.
                if ((events & (POLLHUP | POLLERR)) != 0)
                    hangUp("pseudo-terminal hung up");
                return;
            }
            // Our own slave descriptor keeps this from happening; if it does, stop polling
            // the dead master instead of spinning on it.
            hangUp(n == 0 ? "pseudo-terminal closed"
                          : std::string("pseudo-terminal failed: ") + std::strerror(errno));
            return;
        }
    }

    void sendDueReplies()
    {
        const auto now = Clock::now();
        while (!m_pending.empty() && m_pending.front().due <= now) {
            const Reply reply = std::move(m_pending.front().reply);
            m_pending.pop_front();
            if (!m_pty.isOpen())
                continue;
            // A client that changed its baud rate while a delayed reply was on its way
            // would read only garbage: the reply is lost, as on a real line.
            const int clientRate = m_pty.clientBaudRate();
            const int ownRate = kt::sim::lineBaudRate(m_reader.state().lineIndex);
            if (clientRate != ownRate) {
                m_log.line("tx " + kt::sim::describeBytes(reply.bytes) + " lost: line now at "
                           + std::to_string(clientRate) + " baud, reader at "
                           + std::to_string(ownRate));
                m_reader.replySent(reply);
                continue;
            }
            if (!reply.bytes.empty())
                m_log.line("tx " + kt::sim::describeBytes(reply.bytes));
            if (!writeAll(m_pty.master(), reply.bytes))
                m_log.line("reply not sent in full: the client's input is full");
            m_reader.replySent(reply);
        }
    }

    void readInput()
    {
        std::array<char, 512> buffer{};
        const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            m_stdinOpen = false;
            if (!m_input.empty())
                runCommand(std::exchange(m_input, {}));
            m_log.line("standard input closed; running on until a signal");
            return;
        }
        m_input.append(buffer.data(), static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = m_input.find('\n')) != std::string::npos) {
            const std::string line = m_input.substr(0, end);
            m_input.erase(0, end + 1);
            runCommand(line);
        }
        if (m_input.size() > kMaxInputLine) {
            m_input.clear();
            writeAll(STDOUT_FILENO, "error: input line too long, dropped\n");
        }
    }

    void runCommand(const std::string &line)
    {
        auto result = kt::sim::runConsoleCommand(m_reader, line);
        if (result.answer.empty())
            return;
        if (result.action == ConsoleAction::Hangup) {
            if (m_pty.isOpen())
                hangUp("hangup");
            else
                result.answer = "error: already hung up";
        }
        if (result.action == ConsoleAction::Quit)
            m_quit = true;
        m_log.line("cmd " + printable(line) + " -> " + result.answer);
        writeAll(STDOUT_FILENO, result.answer + "\n");
    }

    void hangUp(const std::string &why)
    {
        if (!m_pty.isOpen())
            return;
        removeLink(m_options.link, m_pty.slaveName());
        m_pty.close();
        m_pending.clear();
        m_log.line(why + ": pseudo-terminal closed, link removed");
    }

    const Options &m_options;
    Log &m_log;
    SimReader m_reader;
    Pty m_pty;
    std::deque<Pending> m_pending;
    std::string m_input;
    bool m_stdinOpen = true;
    bool m_quit = false;
};

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (const auto status = parseOptions(argc, argv, options))
        return *status;

    int logFd = STDERR_FILENO;
    if (!options.logPath.empty()) {
        logFd = ::open(options.logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (logFd < 0) {
            std::fprintf(stderr, "kt4500-sim: cannot write the log %s: %s\n",
                         options.logPath.c_str(), std::strerror(errno));
            return kExitSetup;
        }
    }
    Log log(logFd);
    Simulator simulator(options, log);
    return simulator.run();
}

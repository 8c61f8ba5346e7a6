#include "sim_process.h"

#include "base/posix/child_process.h"
#include "base/posix/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace kt::sim
{

namespace
{
using Clock = std::chrono::steady_clock;

constexpr const char *kBuiltSim = KT_SIM_BINARY;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

// Reads until end of file or the deadline; false at the deadline.
bool drain(int fd, Clock::time_point deadline, std::string *into)
{
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        if (into != nullptr)
            into->append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

SimProcess::SimProcess(std::vector<std::string> extraArgs, std::string portName,
                       std::function<void(const std::string &)> prepare)
    : SimProcess(SimOptions{std::move(extraArgs), {}, std::move(portName), {}, std::move(prepare)})
{
}

SimProcess::SimProcess(SimOptions options)
{
    if (options.dir.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kt4500-sim-test.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            return;
        m_dir = pattern;
        m_ownsDir = true;
    } else {
        m_dir = options.dir;
    }
    std::error_code error;
    std::filesystem::create_directories(portDir(), error);
    if (error)
        return;
    m_link = portDir() + "/" + options.portName;
    if (options.prepare)
        options.prepare(portDir());

    auto in = base::makePipe();
    auto out = base::makePipe();
    if (!in || !out)
        return;
    std::vector<std::string> args{"--link", m_link, "--log", logPath()};
    args.insert(args.end(), options.args.begin(), options.args.end());
    m_pid = base::startChild({.program = options.binary.empty() ? kBuiltSim : options.binary,
                              .args = std::move(args),
                              .redirects = {base::Redirect::dup(in->read.get(), STDIN_FILENO),
                                            base::Redirect::dup(out->write.get(), STDOUT_FILENO)}});
    // Only the child holds these ends now: its end of input and ours of output come when
    // the other side closes.
    in->read.reset();
    out->write.reset();
    m_stdin = in->write.release();
    m_stdout = out->read.release();
    if (m_pid <= 0) {
        m_pid = -1;
        return;
    }
    if (!readLine(20s).starts_with("ready ")) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

SimProcess::~SimProcess()
{
    if (isRunning())
        stop();
    if (m_stdin >= 0)
        ::close(m_stdin);
    if (m_stdout >= 0)
        ::close(m_stdout);
    if (m_ownsDir) {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
}

std::string SimProcess::devicePath() const
{
    std::error_code error;
    const auto target = std::filesystem::read_symlink(m_link, error);
    return error ? std::string() : target.string();
}

std::string SimProcess::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto end = m_pendingOutput.find('\n');
        if (end != std::string::npos) {
            std::string line = m_pendingOutput.substr(0, end);
            m_pendingOutput.erase(0, end + 1);
            return line;
        }
        pollfd p{m_stdout, POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char buffer[1024];
        const ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        m_pendingOutput.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string SimProcess::command(std::string_view line, std::chrono::milliseconds timeout)
{
    if (!isRunning())
        return {};
    const std::string text = std::string(line) + "\n";
    if (::write(m_stdin, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return {};
    return readLine(timeout);
}

std::string SimProcess::log() const
{
    std::ifstream file(logPath());
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

bool SimProcess::waitForLog(std::string_view text, std::chrono::milliseconds timeout) const
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (log().find(text) != std::string::npos)
            return true;
        if (Clock::now() >= deadline)
            return false;
        // The log is a file written by another process: look again shortly.
        std::this_thread::sleep_for(5ms);
    }
}

int SimProcess::stop()
{
    if (!isRunning())
        return -1;
    const std::string quit = "quit\n";
    [[maybe_unused]] const auto n = ::write(m_stdin, quit.data(), quit.size());
    return waitForExit(20s);
}

int SimProcess::stopBySignal(int signal)
{
    if (!isRunning())
        return -1;
    ::kill(m_pid, signal);
    return waitForExit(20s);
}

int SimProcess::waitForExit(std::chrono::milliseconds timeout)
{
    // Its standard output ends when it exits.
    const bool ended = drain(m_stdout, Clock::now() + timeout, nullptr);
    if (!ended)
        ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return ended ? base::exitStatusOf(status) : -1;
}

SimRun runSim(const std::vector<std::string> &args, std::chrono::milliseconds timeout)
{
    SimRun run;
    auto out = base::makePipe();
    if (!out)
        return run;
    const pid_t pid =
        base::startChild({.program = kBuiltSim,
                          .args = args,
                          .redirects = {base::Redirect::open(STDIN_FILENO, "/dev/null", O_RDONLY),
                                        base::Redirect::dup(out->write.get(), STDOUT_FILENO),
                                        base::Redirect::dup(out->write.get(), STDERR_FILENO)}});
    out->write.reset();
    if (pid <= 0)
        return run;
    const bool ended = drain(out->read.get(), Clock::now() + timeout, &run.output);
    out->read.reset();
    if (!ended)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (ended)
        run.exitStatus = base::exitStatusOf(status);
    return run;
}

} // namespace kt::sim

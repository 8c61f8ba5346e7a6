#include "sim_runner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace kt::bench
{

namespace
{
using SteadyClock = std::chrono::steady_clock;

int msLeft(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}
} // namespace

SimRunner::SimRunner(const std::string &simBinary, std::string linkPath, const std::string &logPath,
                     const std::vector<std::string> &extraArgs)
    : m_link(std::move(linkPath))
{
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return;
    }
    std::vector<std::string> args{simBinary, "--link", m_link, "--log", logPath};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char *> argv;
    for (auto &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    pid_t pid = -1;
    if (::posix_spawn(&pid, simBinary.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
    m_pid = pid;
    if (m_pid > 0 && !readLine(std::chrono::seconds(20)).starts_with("ready ")) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

SimRunner::~SimRunner()
{
    stop();
    if (m_stdin >= 0)
        ::close(m_stdin);
    if (m_stdout >= 0)
        ::close(m_stdout);
}

std::string SimRunner::devicePath() const
{
    std::error_code error;
    const auto target = std::filesystem::read_symlink(m_link, error);
    return error ? std::string() : target.string();
}

std::string SimRunner::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        if (const auto end = m_pending.find('\n'); end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        pollfd p{m_stdout, POLLIN, 0};
        const int ready = ::poll(&p, 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char buffer[512];
        const ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string SimRunner::command(std::string_view line, std::chrono::milliseconds timeout)
{
    if (!isRunning())
        return {};
    const std::string text = std::string(line) + "\n";
    if (::write(m_stdin, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return {};
    return readLine(timeout);
}

void SimRunner::stop()
{
    if (!isRunning())
        return;
    const std::string quit = "quit\n";
    [[maybe_unused]] const auto written = ::write(m_stdin, quit.data(), quit.size());
    // Its standard output ends when it has gone; give it a few seconds before the hard way.
    const auto deadline = SteadyClock::now() + std::chrono::seconds(5);
    char buffer[512];
    for (;;) {
        pollfd p{m_stdout, POLLIN, 0};
        const int ready = ::poll(&p, 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            ::kill(m_pid, SIGKILL);
            break;
        }
        if (::read(m_stdout, buffer, sizeof buffer) <= 0)
            break;
    }
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

} // namespace kt::bench

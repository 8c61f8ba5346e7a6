#include "ctl_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace kt::test
{

namespace
{

using Clock = std::chrono::steady_clock;

const std::string kCtlBinary = std::string(KT_BIN_DIR) + "/kt4500ctl";

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

std::vector<std::string> environmentWith(const std::map<std::string, std::string> &overrides)
{
    std::vector<std::string> all;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        if (!overrides.contains(name))
            all.push_back(entry);
    }
    for (const auto &[name, value] : overrides)
        all.push_back(name + "=" + value);
    return all;
}

} // namespace

CtlProcess::CtlProcess(const std::vector<std::string> &args, const CtlOptions &options)
{
    std::vector<std::string> argvStrings{kCtlBinary};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = environmentWith(options.environment);
    std::vector<char *> argv;
    for (auto &a : argvStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (auto &e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        if (options.stdoutTo == Stdout::DevFull) {
            ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO);
        } else if (options.stdoutTo == Stdout::ClosedPipe) {
            int gone[2];
            if (::pipe(gone) == 0) {
                ::close(gone[0]);
                ::dup2(gone[1], STDOUT_FILENO);
            }
        }
        ::dup2(err[1], STDERR_FILENO);
        if (options.closedDescriptor >= 0)
            ::close(options.closedDescriptor);
        if (options.user) {
            const gid_t group = static_cast<gid_t>(*options.user);
            if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0
                || ::setuid(*options.user) != 0)
                ::_exit(125);
        }
        ::execve(kCtlBinary.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    m_pid = pid > 0 ? pid : -1;
}

CtlProcess::~CtlProcess()
{
    if (isRunning()) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_outFd >= 0)
        ::close(m_outFd);
    if (m_errFd >= 0)
        ::close(m_errFd);
}

bool CtlProcess::collect(Clock::time_point deadline)
{
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    std::string *into[2] = {&m_out, &m_err};
    if (m_outFd < 0 && m_errFd < 0)
        return false;
    const int ready = ::poll(fds, 2, remainingMs(deadline));
    if (ready <= 0)
        return true;
    int *fdOf[2] = {&m_outFd, &m_errFd};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            into[i]->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(*fdOf[i]);
            *fdOf[i] = -1;
        }
    }
    return m_outFd >= 0 || m_errFd >= 0;
}

bool CtlProcess::waitForLines(std::size_t n, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (static_cast<std::size_t>(std::count(m_out.begin(), m_out.end(), '\n')) >= n)
            return true;
        if (Clock::now() >= deadline || !collect(deadline))
            return false;
    }
}

void CtlProcess::signal(int signal)
{
    if (isRunning())
        ::kill(m_pid, signal);
}

int CtlProcess::wait(std::chrono::milliseconds timeout)
{
    if (!isRunning())
        return -1;
    const auto deadline = Clock::now() + timeout;
    // Both streams end when the process does.
    while (Clock::now() < deadline && collect(deadline)) {
    }
    const bool ended = m_outFd < 0 && m_errFd < 0;
    if (!ended)
        ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    if (!ended)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> CtlProcess::outLines() const
{
    std::vector<std::string> lines;
    std::istringstream in(m_out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

CtlRun runCtl(const std::vector<std::string> &args, const CtlOptions &options)
{
    CtlProcess process(args, options);
    CtlRun run;
    run.status = process.wait();
    run.out = process.out();
    run.err = process.err();
    run.lines = process.outLines();
    return run;
}

} // namespace kt::test

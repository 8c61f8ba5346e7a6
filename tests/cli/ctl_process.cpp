#include "ctl_process.h"

#include "base/posix/child_process.h"
#include "base/posix/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

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

} // namespace

CtlProcess::CtlProcess(const std::vector<std::string> &args, const CtlOptions &options)
{
    auto out = base::makePipe();
    auto err = base::makePipe();
    if (!out || !err)
        return;
    // A pipe whose reading end is closed before the program starts.
    std::optional<base::Pipe> gone;
    std::vector<base::Redirect> redirects{base::Redirect::open(STDIN_FILENO, "/dev/null", O_RDONLY),
                                          base::Redirect::dup(out->write.get(), STDOUT_FILENO)};
    if (options.stdoutTo == Stdout::DevFull) {
        redirects.push_back(base::Redirect::open(STDOUT_FILENO, "/dev/full", O_WRONLY));
    } else if (options.stdoutTo == Stdout::ClosedPipe && (gone = base::makePipe())) {
        gone->read.reset();
        redirects.push_back(base::Redirect::dup(gone->write.get(), STDOUT_FILENO));
    }
    redirects.push_back(base::Redirect::dup(err->write.get(), STDERR_FILENO));
    if (options.closedDescriptor >= 0)
        redirects.push_back(base::Redirect::close(options.closedDescriptor));
    std::vector<std::string> environment;
    for (const auto &[name, value] : options.environment)
        environment.push_back(name + "=" + value);

    const pid_t pid = base::startChild({.program = kCtlBinary,
                                        .args = args,
                                        .environment = base::environmentWith(environment),
                                        .redirects = std::move(redirects),
                                        .user = options.user});
    m_outFd = out->read.release();
    m_errFd = err->read.release();
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
    return base::exitStatusOf(status);
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

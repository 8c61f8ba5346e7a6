#include "fault_rig.h"

#include "base/posix/child_process.h"
#include "base/posix/write_all.h"

#include <cerrno>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kt::test
{

namespace
{
constexpr uid_t kNobody = 65534;

std::mutex g_logMutex;
std::vector<std::string> g_logLines;

void record(const log::Category &category, log::Level level, std::string_view message)
{
    if (level == log::Level::Debug)
        return;
    const std::lock_guard lock(g_logMutex);
    g_logLines.push_back(std::string(category.name) + ": " + std::string(message));
}

} // namespace

LogCapture::LogCapture()
    : m_previous(log::setSink(record))
{
    const std::lock_guard lock(g_logMutex);
    g_logLines.clear();
}

LogCapture::~LogCapture()
{
    log::setSink(m_previous);
}

std::vector<std::string> LogCapture::lines() const
{
    const std::lock_guard lock(g_logMutex);
    return g_logLines;
}

bool LogCapture::contains(std::string_view text) const
{
    for (const std::string &line : lines()) {
        if (line.find(text) != std::string::npos)
            return true;
    }
    return false;
}

ChildResult runUnprivileged(const std::function<std::string()> &body)
{
    ChildResult result;
    int out[2];
    if (::pipe(out) != 0)
        return result;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    if (pid == 0) {
        ::close(out[0]);
        bool dropped = ::geteuid() != 0;
        if (!dropped) {
            dropped = ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0
                      && ::setuid(kNobody) == 0 && ::geteuid() == kNobody;
        }
        std::string output = dropped ? body() : std::string();
        const char flag = dropped ? '1' : '0';
        const bool sent = kt::base::writeAll(out[1], std::string_view(&flag, 1))
                          && kt::base::writeAll(out[1], output);
        // No destructors, no atexit handlers of the parent's test framework.
        ::_exit(sent ? 0 : 1);
    }
    ::close(out[1]);
    std::string all;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        all.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitStatus = base::exitStatusOf(status);
    result.ranUnprivileged = !all.empty() && all.front() == '1';
    if (!all.empty())
        result.output = all.substr(1);
    return result;
}

} // namespace kt::test

#include "base/posix/child_process.h"

#include <algorithm>
#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace kt::base
{

namespace
{

std::vector<char *> pointersTo(std::vector<std::string> &strings)
{
    std::vector<char *> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string &s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// posix_spawn() wherever nothing has to run between the fork and the program, since it
// costs a large parent far less than fork().
pid_t spawn(const ChildSpec &spec, char *const argv[], char *const envp[])
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const Redirect &r : spec.redirects) {
        switch (r.kind) {
        case Redirect::Kind::Dup:
            posix_spawn_file_actions_adddup2(&actions, r.from, r.target);
            break;
        case Redirect::Kind::Open:
            posix_spawn_file_actions_addopen(&actions, r.target, r.path.c_str(), r.flags, r.mode);
            break;
        case Redirect::Kind::Close:
            posix_spawn_file_actions_addclose(&actions, r.target);
            break;
        }
    }
    pid_t pid = -1;
    if (::posix_spawn(&pid, spec.program.c_str(), &actions, nullptr, argv, envp) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// fork() and exec, for a child that changes its user first.
pid_t forkAndRun(const ChildSpec &spec, char *const argv[], char *const envp[])
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid < 0 ? -1 : pid;
    // Only async-signal-safe calls from here to exec.
    for (const Redirect &r : spec.redirects) {
        switch (r.kind) {
        case Redirect::Kind::Dup:
            if (::dup2(r.from, r.target) < 0)
                ::_exit(125);
            break;
        case Redirect::Kind::Open:
            if (const int fd = ::open(r.path.c_str(), r.flags, r.mode); fd < 0) {
                ::_exit(125);
            } else if (fd != r.target) {
                ::dup2(fd, r.target);
                ::close(fd);
            }
            break;
        case Redirect::Kind::Close:
            ::close(r.target);
            break;
        }
    }
    const uid_t user = *spec.user;
    if (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(user)) != 0
        || ::setuid(user) != 0)
        ::_exit(125);
    ::execve(spec.program.c_str(), argv, envp);
    ::_exit(127);
}

std::string_view nameOf(std::string_view entry)
{
    return entry.substr(0, entry.find('='));
}

} // namespace

pid_t startChild(const ChildSpec &spec)
{
    std::vector<std::string> argStrings{spec.program};
    argStrings.insert(argStrings.end(), spec.args.begin(), spec.args.end());
    std::vector<char *> argv = pointersTo(argStrings);
    std::vector<std::string> envStrings;
    if (spec.environment)
        envStrings = *spec.environment;
    std::vector<char *> envp = pointersTo(envStrings);
    char *const *env = spec.environment ? envp.data() : environ;
    return spec.user ? forkAndRun(spec, argv.data(), env) : spawn(spec, argv.data(), env);
}

std::vector<std::string> environmentWith(const std::vector<std::string> &changes)
{
    std::vector<std::string> all;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string_view name = nameOf(*entry);
        const bool changed = std::any_of(changes.begin(), changes.end(),
                                         [&](const std::string &c) { return nameOf(c) == name; });
        if (!changed)
            all.emplace_back(*entry);
    }
    for (const std::string &change : changes) {
        if (change.find('=') != std::string::npos)
            all.push_back(change);
    }
    return all;
}

int exitStatusOf(int waitStatus)
{
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

} // namespace kt::base

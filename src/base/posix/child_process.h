#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace kt::base
{

// One step that readies a descriptor of a started program before it runs.
struct Redirect {
    enum class Kind { Dup, Open, Close };
    Kind kind = Kind::Close;
    int target = -1;
    int from = -1;    // Dup: this descriptor of the starting process
    std::string path; // Open: the file, opened with flags and mode
    int flags = 0;
    mode_t mode = 0;

    static Redirect dup(int from, int target) { return {Kind::Dup, target, from, {}, 0, 0}; }
    static Redirect open(int target, std::string path, int flags, mode_t mode = 0)
    {
        return {Kind::Open, target, -1, std::move(path), flags, mode};
    }
    static Redirect close(int target) { return {Kind::Close, target, -1, {}, 0, 0}; }
};

struct ChildSpec {
    std::string program = {};           // a path; PATH is not searched
    std::vector<std::string> args = {}; // after the program's own name
    // NAME=value entries; none: this process's environment.
    std::optional<std::vector<std::string>> environment = std::nullopt;
    std::vector<Redirect> redirects = {}; // in this order
    // Run as this user and the group of the same number (the starting process must be
    // root). Such a child exits with status 125 when it cannot ready a descriptor or drop
    // to them, with 127 when it cannot run the program; without a user, startChild() fails
    // then.
    std::optional<uid_t> user = std::nullopt;
};

// Starts the program as a child process; its id, or -1 when it could not be started.
pid_t startChild(const ChildSpec &spec);

// This process's environment with the changes made: "NAME=value" sets NAME, a bare "NAME"
// removes it. Entries that stay keep their order; those set follow in the changes' order.
std::vector<std::string> environmentWith(const std::vector<std::string> &changes);

// The exit status in a status from waitpid(): the program's own, or 128 + the signal that
// ended it.
int exitStatusOf(int waitStatus);

} // namespace kt::base

#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace kt::link
{

// A process that has a serial device open.
struct PortHolder {
    pid_t pid = 0;
    std::string name; // its program name (/proc/PID/comm); empty when it cannot be read
};

// The program name of a process; empty when it cannot be read.
std::string programName(pid_t pid);

// The process holding a flock() on the device (/proc/locks); pid 0 when none is listed.
PortHolder flockHolder(const std::string &devicePath);

// The other processes this user may look into that have the device open (/proc/*/fd). On a
// pseudo-terminal, a process that holds its master end is the line's other end (the
// simulator, a network bridge) and is left out.
std::vector<PortHolder> processesWithDeviceOpen(const std::string &devicePath);

} // namespace kt::link

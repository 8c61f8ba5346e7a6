#include "port_holders.h"

#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kt::link
{

namespace
{

std::optional<pid_t> numberOf(const char *name)
{
    pid_t value = 0;
    if (*name == '\0')
        return std::nullopt;
    for (const char *p = name; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > 100'000'000)
            return std::nullopt;
        value = value * 10 + (*p - '0');
    }
    return value;
}

std::vector<std::string> entriesOf(const std::string &folder)
{
    std::vector<std::string> names;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

std::string linkTarget(const std::string &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// The pty number of /dev/pts/N; nullopt for any other device.
std::optional<pid_t> ptyNumber(const std::string &devicePath)
{
    constexpr std::string_view prefix = "/dev/pts/";
    if (devicePath.rfind(prefix, 0) != 0)
        return std::nullopt;
    return numberOf(devicePath.c_str() + prefix.size());
}

// Whether a descriptor that leads to target is the master end of pseudo-terminal number pty.
bool isMasterOf(const std::string &target, const std::string &fdinfoPath, pid_t pty)
{
    if (target != "/dev/ptmx" && target != "/dev/pts/ptmx")
        return false;
    std::ifstream info(fdinfoPath);
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("tty-index:", 0) == 0)
            return numberOf(line.substr(line.find_first_not_of(" \t", 10)).c_str()) == pty;
    }
    return false;
}

} // namespace

std::string programName(pid_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

PortHolder flockHolder(const std::string &devicePath)
{
    struct stat device = {};
    if (::stat(devicePath.c_str(), &device) != 0)
        return {};
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        // "1: FLOCK  ADVISORY  WRITE 19462 00:05:1043 0 EOF"
        std::istringstream fields(line);
        std::string number, kind, mode, access, file;
        long pid = 0;
        if (!(fields >> number >> kind >> mode >> access >> pid >> file) || kind != "FLOCK")
            continue;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3)
            continue;
        if (inode == device.st_ino && ::makedev(major, minor) == device.st_dev && pid > 0) {
            const auto holder = static_cast<pid_t>(pid);
            return {holder, programName(holder)};
        }
    }
    return {};
}

std::vector<PortHolder> processesWithDeviceOpen(const std::string &devicePath)
{
    std::vector<PortHolder> found;
    const pid_t self = ::getpid();
    const std::optional<pid_t> pty = ptyNumber(devicePath);
    for (const std::string &entry : entriesOf("/proc")) {
        const std::optional<pid_t> pid = numberOf(entry.c_str());
        if (!pid || *pid == self)
            continue;
        const std::string base = "/proc/" + entry;
        bool opened = false;
        bool otherEnd = false;
        // Every open of a port walks this, in the middle of a scan: one readlink a descriptor.
        for (const std::string &fd : entriesOf(base + "/fd")) {
            const std::string target = linkTarget(base + "/fd/" + fd);
            if (target == devicePath)
                opened = true;
            else if (pty && isMasterOf(target, base + "/fdinfo/" + fd, *pty))
                otherEnd = true;
        }
        if (opened && !otherEnd)
            found.push_back({*pid, programName(*pid)});
    }
    return found;
}

} // namespace kt::link

#include "port_names.h"

#include <array>
#include <sys/stat.h>

namespace kt::link
{

namespace
{
struct BuiltInRange {
    int first;
    int last;
    std::string_view prefix;
};

constexpr std::array kBuiltInPorts{
    BuiltInRange{1, 4, "/dev/ttyS"},
    BuiltInRange{5, 12, "/dev/ttyUSB"},
    BuiltInRange{13, 16, "/dev/ttyACM"},
};

// An entry counts when it is there, even as a symlink to a device that is unplugged: the
// open then says "no such device", which is what the user needs to hear.
bool entryExists(const std::string &path)
{
    struct stat st {
    };
    return ::lstat(path.c_str(), &st) == 0;
}

std::string entryPath(std::string_view dir, int portNumber)
{
    std::string path(dir);
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += "COM" + std::to_string(portNumber);
    return path;
}
} // namespace

std::optional<std::string> portDevicePath(int portNumber, std::string_view portDir,
                                          std::string_view etcPortsDir)
{
    if (portNumber <= 0)
        return std::nullopt;
    if (!portDir.empty()) {
        std::string path = entryPath(portDir, portNumber);
        return entryExists(path) ? std::optional(path) : std::nullopt;
    }
    if (!etcPortsDir.empty()) {
        std::string path = entryPath(etcPortsDir, portNumber);
        if (entryExists(path))
            return path;
    }
    for (const auto &range : kBuiltInPorts) {
        if (portNumber >= range.first && portNumber <= range.last)
            return std::string(range.prefix) + std::to_string(portNumber - range.first);
    }
    return std::nullopt;
}

std::string uucpLockName(std::string_view devicePath)
{
    constexpr std::string_view kDev = "/dev/";
    std::string name;
    if (devicePath.starts_with(kDev)) {
        name = devicePath.substr(kDev.size());
    } else {
        const auto slash = devicePath.rfind('/');
        name = slash == std::string_view::npos ? devicePath : devicePath.substr(slash + 1);
    }
    for (char &c : name) {
        if (c == '/')
            c = '_';
    }
    return "LCK.." + name;
}

} // namespace kt::link

#include "ports.h"

#include "link/posix/port_names.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>

namespace kt::cli
{

namespace
{

constexpr int kSweptPorts = 16;
constexpr int kHighestPort = 9999;

std::optional<int> portNumberOfEntry(std::string_view name)
{
    if (name.rfind("COM", 0) != 0 || name.size() == 3)
        return std::nullopt;
    int number = 0;
    const char *first = name.data() + 3;
    const char *last = name.data() + name.size();
    const auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc() || end != last || *first == '0' || number < 1 || number > kHighestPort)
        return std::nullopt;
    return number;
}

std::string resolved(const std::string &path)
{
    char *target = ::realpath(path.c_str(), nullptr);
    if (target == nullptr)
        return path;
    std::string result(target);
    std::free(target);
    return result;
}

} // namespace

std::vector<int> portNumbersToList(const link::PosixSerialDevice::Folders &folders)
{
    std::vector<int> numbers;
    for (int port = 1; port <= kSweptPorts; ++port)
        numbers.push_back(port);
    const std::string &dir = folders.portDir.empty() ? folders.etcPortsDir : folders.portDir;
    if (DIR *folder = ::opendir(dir.c_str())) {
        while (const dirent *entry = ::readdir(folder)) {
            const std::optional<int> number = portNumberOfEntry(entry->d_name);
            if (number && *number > kSweptPorts)
                numbers.push_back(*number);
        }
        ::closedir(folder);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

PortReport probePort(int port, const link::PosixSerialDevice::Folders &folders)
{
    PortReport report;
    report.port = port;
    const std::optional<std::string> path =
        link::portDevicePath(port, folders.portDir, folders.etcPortsDir);
    if (!path)
        return report;
    report.entry = *path;
    report.device = resolved(*path);

    link::PosixSerialDevice device(folders);
    // No line settings: the port keeps its own speed and framing.
    if (device.open(port, "")) {
        device.close();
        report.state = PortState::Present;
        return report;
    }
    report.detail = device.openError().text();
    switch (device.openError().kind) {
    case link::PortError::NoSuchDevice:
        report.state = PortState::Absent;
        break;
    case link::PortError::PermissionDenied:
        report.state = PortState::NotPermitted;
        break;
    case link::PortError::Busy:
        report.state = PortState::Busy;
        break;
    case link::PortError::None:
    case link::PortError::NotATerminal:
    case link::PortError::AlreadyOpen:
    case link::PortError::Other:
        report.state = PortState::Unusable;
        break;
    }
    return report;
}

std::string_view stateWord(PortState state)
{
    switch (state) {
    case PortState::Absent:
        return "absent";
    case PortState::Present:
        return "present";
    case PortState::Busy:
        return "busy";
    case PortState::NotPermitted:
        return "not permitted";
    case PortState::Unusable:
        break;
    }
    return "unusable";
}

void listPorts(Printer &out, const link::PosixSerialDevice::Folders &folders,
               std::optional<int> onlyPort)
{
    const std::vector<int> numbers =
        onlyPort ? std::vector<int>{*onlyPort} : portNumbersToList(folders);
    for (int port : numbers) {
        const PortReport report = probePort(port, folders);
        if (out.isJson()) {
            JsonObject json;
            json.text("event", "port").number("port", report.port);
            if (report.entry.empty())
                json.null("device");
            else
                json.text("device", report.entry);
            if (report.device != report.entry)
                json.text("target", report.device);
            json.text("status", stateWord(report.state));
            if (report.state != PortState::Present && !report.detail.empty())
                json.text("detail", report.detail);
            out.object(json);
            continue;
        }
        std::string device = report.entry.empty() ? "-" : report.entry;
        if (report.device != report.entry)
            device += " -> " + report.device;
        char name[16];
        std::snprintf(name, sizeof name, "COM%d", report.port);
        char line[64];
        std::snprintf(line, sizeof line, "%-7s ", name);
        std::string text = line + device;
        text += "  " + std::string(stateWord(report.state));
        if (report.state == PortState::Busy)
            text += " (held by another program)";
        if (report.state == PortState::NotPermitted)
            text += " (permission denied; serial ports need the dialout group)";
        if (!out.line(text))
            return;
    }
}

} // namespace kt::cli

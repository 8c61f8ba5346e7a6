#pragma once

// kt4500ctl ports: which port numbers lead to a device, and whether it can be opened.

#include "link/posix/serial_device_posix.h"
#include "printer.h"

#include <optional>
#include <string>
#include <vector>

namespace kt::cli
{

enum class PortState { Absent, Present, Busy, NotPermitted, Unusable };

struct PortReport {
    int port = 0;
    std::string entry;  // the device path the number resolves to; empty: none
    std::string device; // where that path leads when it is a link; else the entry
    PortState state = PortState::Absent;
    std::string detail; // why it cannot be opened
};

// The numbers to show: 1 to 16, the ports a scan sweeps, and the higher COM<n> entries of the
// port folder in use (KT4500_PORT_DIR when set, else the machine-wide one), ascending.
std::vector<int> portNumbersToList(const link::PosixSerialDevice::Folders &folders);

// Opens the port and closes it again, as a scan does, to tell its state.
PortReport probePort(int port, const link::PosixSerialDevice::Folders &folders);

// The word for the state in the listing ("present", "busy", "not permitted", ...).
std::string_view stateWord(PortState state);

// Prints one line (or JSON object) per port; only the given port when there is one.
void listPorts(Printer &out, const link::PosixSerialDevice::Folders &folders,
               std::optional<int> onlyPort);

} // namespace kt::cli

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kt::link
{

// The machine-wide folder where an installer pins port numbers to devices.
inline constexpr std::string_view kEtcPortsDir = "/etc/kt4500/ports";

// The device path of port number n ("COM" + n), or nullopt when that port does not exist.
// portDir is the value of KT4500_PORT_DIR (empty: unset). With it set, only its COM<n>
// entries exist; else etcPortsDir/COM<n> when that entry exists; else the built-in table
// COM1-4 /dev/ttyS0-3, COM5-12 /dev/ttyUSB0-7, COM13-16 /dev/ttyACM0-3.
std::optional<std::string> portDevicePath(int portNumber, std::string_view portDir,
                                          std::string_view etcPortsDir = kEtcPortsDir);

// The name of a device's UUCP lock file ("LCK.." + name) from its resolved path:
// /dev/ttyUSB0 gives LCK..ttyUSB0, /dev/pts/3 gives LCK..pts_3, a path elsewhere its last
// component.
std::string uucpLockName(std::string_view devicePath);

} // namespace kt::link

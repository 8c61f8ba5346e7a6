#include "port_watch.h"

#include <algorithm>

namespace kt::cli
{

std::string describeFailure(const OpenFailure &failure)
{
    const std::string port = "COM" + std::to_string(failure.port);
    const std::string where = failure.device.empty() ? port : port + " (" + failure.device + ")";
    switch (failure.kind) {
    case link::PortError::PermissionDenied:
        return where
               + ": permission denied. Serial ports are open to the members of the dialout "
                 "group: add the user to it (sudo adduser $USER dialout) and log in again.";
    case link::PortError::Busy: {
        if (failure.exclusiveLeftBehind)
            return where + ": " + failure.reason;
        const std::string name =
            failure.holderName.empty() ? "another program" : failure.holderName;
        const std::string holder =
            failure.holderPid > 0 ? " (process " + std::to_string(failure.holderPid) + ")" : "";
        return where + " is held by " + name + holder + "; close that program and try again.";
    }
    case link::PortError::NoSuchDevice:
        if (failure.device.empty())
            return port + ": " + (failure.reason.empty() ? "no such port" : failure.reason);
        return where + ": no such device; is the reader's converter plugged in?";
    case link::PortError::None:
    case link::PortError::NotATerminal:
    case link::PortError::AlreadyOpen:
    case link::PortError::Other:
        break;
    }
    return where + " cannot be opened: " + failure.reason;
}

PortWatch::PortWatch(link::SerialDevice &device)
    : m_device(device)
{
}

bool PortWatch::open(int portNumber, std::string_view lineSettings)
{
    if (m_refusing || (m_pinned && *m_pinned != portNumber)) {
        setOpenError({link::PortError::Other, portNumber, {}, 0, {}, "not tried"});
        return false;
    }
    if (m_device.open(portNumber, lineSettings)) {
        clearOpenError();
        m_openPort = portNumber;
        if (m_readBack)
            m_lineSettingsInForce = m_readBack();
        for (const link::OtherOpener &other : m_device.alsoOpenIn()) {
            const std::pair<int, int> named{portNumber, other.pid};
            if (std::find(m_warned.begin(), m_warned.end(), named) != m_warned.end())
                continue;
            m_warned.push_back(named);
            if (m_warn)
                m_warn(other.text(portNumber));
        }
        return true;
    }
    setOpenError(m_device.openError());
    m_failures.push_back(m_device.openError());
    return false;
}

link::ReadResult PortWatch::readByte(std::uint8_t &byte)
{
    return noted(m_device.readByte(byte));
}

link::ReadResult PortWatch::readWaitingByte(std::uint8_t &byte)
{
    return noted(m_device.readWaitingByte(byte));
}

link::ReadResult PortWatch::noted(link::ReadResult result)
{
    if (result == link::ReadResult::HungUp
        && std::find(m_hangUps.begin(), m_hangUps.end(), m_openPort) == m_hangUps.end())
        m_hangUps.push_back(m_openPort);
    return result;
}

} // namespace kt::cli

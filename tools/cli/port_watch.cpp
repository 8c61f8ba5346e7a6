#include "port_watch.h"

namespace kt::cli
{

namespace
{

// The serial layer's text without the "COMn (device): " it starts with.
std::string reason(const OpenFailure &failure)
{
    const std::string &detail = failure.detail;
    const std::size_t colon = detail.find("): ");
    if (detail.rfind("COM", 0) == 0 && colon != std::string::npos)
        return detail.substr(colon + 3);
    return detail;
}

} // namespace

std::string describeFailure(const OpenFailure &failure)
{
    const std::string port = "COM" + std::to_string(failure.port);
    const std::string where = failure.device.empty() ? port : port + " (" + failure.device + ")";
    switch (failure.error) {
    case link::PortError::PermissionDenied:
        return where
               + ": permission denied. Serial ports are open to the members of the dialout "
                 "group: add the user to it (sudo adduser $USER dialout) and log in again.";
    case link::PortError::Busy: {
        // The serial layer names the holder where a lock file does.
        std::string holder;
        const std::size_t process = failure.detail.find("process ");
        if (process != std::string::npos) {
            const std::size_t digits = process + 8;
            const std::size_t end = failure.detail.find_first_not_of("0123456789", digits);
            if (end != digits)
                holder = " (" + failure.detail.substr(process, end - process) + ")";
        }
        return where + " is held by another program" + holder
               + "; close that program and try again.";
    }
    case link::PortError::NoSuchDevice:
        if (failure.device.empty())
            return failure.detail.empty() ? port + ": no such port" : failure.detail;
        return where + ": no such device; is the reader's converter plugged in?";
    case link::PortError::None:
    case link::PortError::Other:
        break;
    }
    return where + " cannot be opened: " + reason(failure);
}

PortWatch::PortWatch(link::SerialDevice &device, std::function<OpenFailure(int port)> explain)
    : m_device(device)
    , m_explain(std::move(explain))
{
}

bool PortWatch::open(int portNumber, std::string_view lineSettings)
{
    if (m_refusing || (m_pinned && *m_pinned != portNumber))
        return false;
    if (m_device.open(portNumber, lineSettings)) {
        if (m_readBack)
            m_lineSettingsInForce = m_readBack();
        return true;
    }
    OpenFailure failure;
    if (m_explain)
        failure = m_explain(portNumber);
    failure.port = portNumber;
    m_failures.push_back(std::move(failure));
    return false;
}

} // namespace kt::cli

#include "serial_device.h"

#include "log.h"

namespace kt::link
{

std::string OpenError::text() const
{
    std::string where = "COM" + std::to_string(port);
    if (!device.empty())
        where += " (" + device + ")";
    return where + ": " + reason;
}

std::string OtherOpener::text(int port) const
{
    return "COM" + std::to_string(port) + " is also open in "
           + (name.empty() ? std::string("another program") : name) + " (process "
           + std::to_string(pid) + "); its replies may go there";
}

void SerialDevice::setAlsoOpenIn(int port, std::vector<OtherOpener> others)
{
    m_alsoOpenIn = std::move(others);
    for (const OtherOpener &other : m_alsoOpenIn)
        KT_WARNING(lcLink, "%s", other.text(port).c_str());
}

bool SerialDevice::failOpen(OpenError error)
{
    setOpenError(std::move(error));
    KT_WARNING(lcLink, "%s", m_openError.text().c_str());
    return false;
}

} // namespace kt::link

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

bool SerialDevice::failOpen(OpenError error)
{
    setOpenError(std::move(error));
    KT_WARNING(lcLink, "%s", m_openError.text().c_str());
    return false;
}

} // namespace kt::link

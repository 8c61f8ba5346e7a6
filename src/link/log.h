#pragma once

#include <QLoggingCategory>

namespace kt::link
{

// "kt4500.link": frames in hex at debug level (off by default), failures at warning level.
Q_DECLARE_LOGGING_CATEGORY(lcLink)

} // namespace kt::link

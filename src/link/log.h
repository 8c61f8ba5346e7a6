#pragma once

#include "log/log.h"

namespace kt::link
{

// "kt4500.link": frames in hex at debug level (off by default), failures at warning level.
inline constexpr log::Category lcLink{"kt4500.link"};

} // namespace kt::link

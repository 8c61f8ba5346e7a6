#pragma once

// The one part of logging that differs between the Qt build and the build without Qt.

#include "log/log.h"

#include <string_view>

namespace kt::log::detail
{

// Writes one formatted line to the log of this build.
void output(const Category &category, Level level, std::string_view message);

} // namespace kt::log::detail

#pragma once

#include "log/log.h"

// "kt4500.settings": why a load fell back or a save was dropped. Info and up by default.
inline constexpr kt::log::Category lcSettings{"kt4500.settings"};

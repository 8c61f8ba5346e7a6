#pragma once

#include "log/log.h"
#include "settings/settings_store.h"

// "kt4500.settings": why a load fell back or a save was dropped. Info and up by default.
inline constexpr kt::log::Category lcSettings{"kt4500.settings"};

namespace kt::settings
{

// Formats as printf the reason a save failed, logs it at warning level and returns it.
SaveResult saveFailed(const char *format, ...) KT_PRINTF_FORMAT(1, 2);

} // namespace kt::settings

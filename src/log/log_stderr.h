#pragma once

#include <string_view>

namespace kt::log
{

// Whether the KT4500_DEBUG setting turns on the debug lines of a category: "1" turns on every
// category, otherwise the setting is a comma-separated list of category names. Unset, empty
// or "0": off.
[[nodiscard]] bool debugWanted(std::string_view setting, std::string_view categoryName);

} // namespace kt::log

#pragma once

#include <array>
#include <string_view>

namespace kt::text
{

// The drop-down lists' items, English in every language.

// The line-settings list (cmbBaudRate) shows link::kLineSettingsTexts.

inline constexpr std::array<std::string_view, 2> kModeItems = {"Wiegand", "RS485"};
inline constexpr std::array<std::string_view, 3> kWiegandItems = {"Wiegand 26", "Wiegand 34",
                                                                  "Wiegand 42"};
inline constexpr std::array<std::string_view, 3> kRS485Items = {"RS485 24", "RS485 32", "RS485 40"};

} // namespace kt::text

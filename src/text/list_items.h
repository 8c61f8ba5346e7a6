#pragma once

#include <array>
#include <string_view>

namespace kt::text
{

// The drop-down lists' items, English in every language.

// LineSettingsList: an index of cmbBaudRate is an index of this table.
inline constexpr std::array<std::string_view, 12> kLineSettingsList = {
    "4800,n,8,1",  "4800,e,8,1",  "9600,n,8,1",  "9600,e,8,1",  "19200,n,8,1",  "19200,e,8,1",
    "38400,n,8,1", "38400,e,8,1", "57600,n,8,1", "57600,e,8,1", "115200,n,8,1", "115200,e,8,1"};
constexpr int kDefaultLineSettingsIndex = 5; // "19200,e,8,1"

inline constexpr std::array<std::string_view, 2> kModeItems = {"Wiegand", "RS485"};
inline constexpr std::array<std::string_view, 3> kWiegandItems = {"Wiegand 26", "Wiegand 34",
                                                                  "Wiegand 42"};
inline constexpr std::array<std::string_view, 3> kRS485Items = {"RS485 24", "RS485 32", "RS485 40"};

// Whether a stored line-settings index can be used to reach into kLineSettingsList.
constexpr bool isLineSettingsIndex(int index)
{
    return index >= 0 && index < static_cast<int>(kLineSettingsList.size());
}

} // namespace kt::text

#pragma once

#include "line_table.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kt::link
{

// A line-settings text taken apart. Fields the text leaves out stay as the port has them.
struct LineSettings {
    std::uint32_t baudRate = 0;
    std::optional<Parity> parity;
    std::optional<int> dataBits; // 5..8
    std::optional<int> stopBits; // 1 or 2

    bool operator==(const LineSettings &) const = default;
};

// The baud rates a line-settings text can name, ascending.
inline constexpr std::array<std::uint32_t, 13> kBaudRates{
    110, 150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

// Parses "baud[,parity[,data[,stop]]]" as the Windows mode command reads it, e.g.
// "19200,e,8,1". Baud rates 110 to 230400, also as the mode command's two-digit short forms
// ("96" is 9600, "19" is 19200); parity n, e, o, m or s in either case; spaces around a field
// are allowed. nullopt for anything else, which the caller treats as "leave the line alone".
std::optional<LineSettings> parseLineSettings(std::string_view text);

} // namespace kt::link

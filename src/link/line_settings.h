#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kt::link
{

enum class Parity { None, Even, Odd, Mark, Space };

// A line-settings text taken apart. Fields the text leaves out stay as the port has them.
struct LineSettings {
    std::uint32_t baudRate = 0;
    std::optional<Parity> parity;
    std::optional<int> dataBits; // 5..8
    std::optional<int> stopBits; // 1 or 2

    bool operator==(const LineSettings &) const = default;
};

// Parses "baud[,parity[,data[,stop]]]" as the Windows mode command reads it, e.g.
// "19200,e,8,1". Baud rates 110 to 230400, also as the mode command's two-digit short forms
// ("96" is 9600, "19" is 19200); parity n, e, o, m or s in either case; spaces around a field
// are allowed. nullopt for anything else, which the caller treats as "leave the line alone".
std::optional<LineSettings> parseLineSettings(std::string_view text);

} // namespace kt::link

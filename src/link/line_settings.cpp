#include "line_settings.h"

#include <array>
#include <utility>

namespace kt::link
{

namespace
{
constexpr std::size_t kMaxFields = 4;

// The mode command's historic two-digit abbreviations.
constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 9> kShortBaudRates{{
    {11, 110},
    {15, 150},
    {30, 300},
    {60, 600},
    {12, 1200},
    {24, 2400},
    {48, 4800},
    {96, 9600},
    {19, 19200},
}};

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Digits only, at most 6 of them, so the value can neither overflow nor hide a sign.
std::optional<std::uint32_t> smallNumber(std::string_view s)
{
    if (s.empty() || s.size() > 6)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

std::optional<std::uint32_t> baudRate(std::string_view s)
{
    const auto value = smallNumber(s);
    if (!value)
        return std::nullopt;
    for (auto rate : kBaudRates) {
        if (rate == *value)
            return rate;
    }
    for (auto [abbreviation, rate] : kShortBaudRates) {
        if (abbreviation == *value)
            return rate;
    }
    return std::nullopt;
}

std::optional<Parity> parity(std::string_view s)
{
    if (s.size() != 1)
        return std::nullopt;
    switch (s.front()) {
    case 'n':
    case 'N':
        return Parity::None;
    case 'e':
    case 'E':
        return Parity::Even;
    case 'o':
    case 'O':
        return Parity::Odd;
    case 'm':
    case 'M':
        return Parity::Mark;
    case 's':
    case 'S':
        return Parity::Space;
    default:
        return std::nullopt;
    }
}

std::optional<int> numberIn(std::string_view s, int low, int high)
{
    if (s.size() != 1 || s.front() < '0' + low || s.front() > '0' + high)
        return std::nullopt;
    return s.front() - '0';
}
} // namespace

std::optional<LineSettings> parseLineSettings(std::string_view text)
{
    std::array<std::string_view, kMaxFields> fields{};
    std::size_t count = 0;
    while (true) {
        if (count == kMaxFields)
            return std::nullopt;
        const auto comma = text.find(',');
        fields[count++] = trimmed(text.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }

    LineSettings settings;
    const auto rate = baudRate(fields[0]);
    if (!rate)
        return std::nullopt;
    settings.baudRate = *rate;
    if (count > 1 && !(settings.parity = parity(fields[1])))
        return std::nullopt;
    if (count > 2 && !(settings.dataBits = numberIn(fields[2], 5, 8)))
        return std::nullopt;
    // 1.5 stop bits have no termios equivalent; such a text is refused rather than bent.
    if (count > 3 && !(settings.stopBits = numberIn(fields[3], 1, 2)))
        return std::nullopt;
    return settings;
}

} // namespace kt::link

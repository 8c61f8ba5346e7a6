#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kt::link
{

enum class Parity { None, Even, Odd, Mark, Space };

// One of the reader's line settings. Its index in kLineSettings is the number the settings
// keep ("ScanBaudRateNo") and the item of the line-settings list; the command character is
// what the set-line-settings command sends for it; the text is what the settings keep
// ("ScanBaudRate") and the port is opened with. Every one has 8 data bits and 1 stop bit.
struct LineSetting {
    char commandChar;
    std::string_view text;
    std::uint32_t baudRate;
    Parity parity;
};

// The twelve line settings the reader can be switched to.
inline constexpr std::array<LineSetting, 12> kLineSettings = {{
    {'0', "4800,n,8,1", 4800, Parity::None},
    {'1', "4800,e,8,1", 4800, Parity::Even},
    {'2', "9600,n,8,1", 9600, Parity::None},
    {'3', "9600,e,8,1", 9600, Parity::Even},
    {'4', "19200,n,8,1", 19200, Parity::None},
    {'5', "19200,e,8,1", 19200, Parity::Even},
    {'6', "38400,n,8,1", 38400, Parity::None},
    {'7', "38400,e,8,1", 38400, Parity::Even},
    {'8', "57600,n,8,1", 57600, Parity::None},
    {'9', "57600,e,8,1", 57600, Parity::Even},
    {'A', "115200,n,8,1", 115200, Parity::None},
    {'B', "115200,e,8,1", 115200, Parity::Even},
}};

// The index of the line setting a reader leaves the factory with: 19200,e,8,1.
constexpr int kFactoryLineSettingsIndex = 5;

// Whether an index (a stored one is never trusted) names a row of kLineSettings.
constexpr bool isLineSettingsIndex(int index)
{
    return index >= 0 && index < static_cast<int>(kLineSettings.size());
}

// The index of the row with this text, exactly as the table has it; -1 when none has.
constexpr int lineSettingsIndexOf(std::string_view text)
{
    for (std::size_t i = 0; i < kLineSettings.size(); ++i) {
        if (kLineSettings[i].text == text)
            return static_cast<int>(i);
    }
    return -1;
}

// The texts alone, in the table's order: the items of a list of the line settings.
inline constexpr std::array<std::string_view, kLineSettings.size()> kLineSettingsTexts = [] {
    std::array<std::string_view, kLineSettings.size()> texts{};
    for (std::size_t i = 0; i < kLineSettings.size(); ++i)
        texts[i] = kLineSettings[i].text;
    return texts;
}();

namespace detail
{
// Whether a row's text says what its numbers say: "<baud>,<n or e>,8,1".
constexpr bool textAgrees(const LineSetting &row)
{
    std::string_view text = row.text;
    std::uint32_t baud = 0;
    while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
        baud = baud * 10 + static_cast<std::uint32_t>(text.front() - '0');
        text.remove_prefix(1);
    }
    const char parity = row.parity == Parity::None ? 'n' : row.parity == Parity::Even ? 'e' : '?';
    return baud == row.baudRate && text.size() == 6 && text[0] == ',' && text[1] == parity
           && text.substr(2) == ",8,1";
}

constexpr bool tableAgrees()
{
    for (std::size_t i = 0; i < kLineSettings.size(); ++i) {
        if (!textAgrees(kLineSettings[i]))
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (kLineSettings[j].commandChar == kLineSettings[i].commandChar)
                return false;
        }
    }
    return true;
}
} // namespace detail

// A row whose text and numbers disagree would open the port at one speed while the reader is
// switched to another; two rows with one character could not be told apart by the reader.
static_assert(detail::tableAgrees(), "a line setting's text and numbers disagree");
static_assert(isLineSettingsIndex(kFactoryLineSettingsIndex));

} // namespace kt::link

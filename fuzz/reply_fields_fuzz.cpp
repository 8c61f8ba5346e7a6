// The reply fields and HexToInt over any reply: a field is always a piece of the reply
// (cut short at its end, empty past it), a decimal field is a plain number or nothing, and
// HexToInt reads exactly the first eight characters.

#include "fuzz_support.h"
#include "link/commands.h"
#include "link/hex.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace
{

using kt::fuzz::require;

bool isUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void checkField(std::string_view reply, std::size_t position, std::size_t length)
{
    const auto field = kt::link::replyField(reply, position, length);
    if (position == 0 || position > reply.size()) {
        require(field.empty(), "a field that begins outside the reply is empty");
        return;
    }
    require(field.data() == reply.data() + position - 1, "a field begins at its position");
    require(field.size() == std::min(length, reply.size() - position + 1),
            "a field is cut short at the reply's end");

    const auto value = kt::link::decimalField(field);
    bool allDigits = !field.empty();
    for (char c : field)
        allDigits = allDigits && c >= '0' && c <= '9';
    if (!allDigits || field.size() > 9) {
        require(!value, "only digits make a decimal field");
        return;
    }
    int expected = -1;
    std::from_chars(field.data(), field.data() + field.size(), expected);
    require(value == expected, "a decimal field is its number");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kt::fuzz::silenceLog();
    if (size < 2)
        return 0;
    const std::string_view reply = kt::fuzz::textOf(data + 2, size - 2);
    checkField(reply, data[0], data[1]);
    for (std::size_t position = 0; position <= reply.size() + 1 && position < 40; ++position)
        checkField(reply, position, 8);

    using namespace kt::link;
    for (auto field : {readerIdField(reply), serialNumberField(reply), versionField(reply),
                       outputModeField(reply), wiegandFormatField(reply), rs485FormatField(reply),
                       cardNumberField(reply)}) {
        require(field.empty()
                    || (field.data() >= reply.data()
                        && field.data() + field.size() <= reply.data() + reply.size()),
                "a named field lies inside the reply");
    }

    const std::int32_t value = hexToInt(reply);
    require(value == hexToInt(reply.substr(0, 8)), "characters after the eighth are ignored");
    std::string padded(reply.substr(0, 8));
    for (char &c : padded)
        c = isUpperHex(c) ? c : '0';
    padded.resize(8, '0');
    std::uint32_t expected = 0;
    std::from_chars(padded.data(), padded.data() + padded.size(), expected, 16);
    require(static_cast<std::uint32_t>(value) == expected,
            "the eight characters are the value's 32 bits, anything but 0-9 and A-F counting 0");
    return 0;
}

#include "link/commands.h"
#include "link/frame.h"
#include "link/hex.h"

#include <climits>
#include <gtest/gtest.h>

using namespace kt::link;

TEST(HexToInt, ReadsEightUpperCaseDigitsPaddedOnTheRight)
{
    const struct {
        const char *text;
        std::int32_t value;
    } cases[] = {
        {"0000ABCD", 43981},
        {"0A1b", 168820736},      // lower-case b and the missing four count as
                                  // 0
        {"123456789", 305419896}, // the ninth character is ignored
        {"ABCD", -1412628480},    // ABCD0000
        {"FFFFFFFF", -1},
        {"80000000", INT_MIN},
        {"7FFFFFFF", INT_MAX},
        {"", 0},
        {"abcdef12", 0x12},
        {"G0000001", 1},
        {"0000000F", 15},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hexToInt(c.text), c.value);
    }
}

TEST(Commands, BuildersEncodeTheirArguments)
{
    const struct {
        std::string built;
        const char *expected;
    } cases[] = {
        {setLineSettingsCommand(0), "A00E0"},
        {setLineSettingsCommand(5), "A00E5"},
        {setLineSettingsCommand(9), "A00E9"},
        {setLineSettingsCommand(10), "A00EA"},
        {setLineSettingsCommand(11), "A00EB"},
        {setLineSettingsCommand(12), ""},
        {setLineSettingsCommand(-1), ""},
        {setModeCommand(1, 2, 1), "A00A121"},
        {setModeCommand(0, 0, 1), "A00A001"},
        {setModeCommand(1, 0, 0), "A00A100"},
        {setIdCommand("12345678", "07"), "A00C1234567807"},
        {setIdCommand("AB CD-EF", "99"), "A00CAB CD-EF99"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(c.built, c.expected);
    }
}

TEST(ReplyFields, TakeOneBasedPiecesCutShortAtTheEnd)
{
    const std::string identity = replyFrame("x05x12345678"); // 16 bytes
    const std::string card = replyFrame("12345"
                                        "0000ABCD"); // 17 bytes
    const std::string mode = replyFrame("abcd121");
    const std::string shortVersion = replyFrame("abcd"); // checksum and CR at 6..8
    ASSERT_EQ(identity.size(), 16u);
    ASSERT_EQ(card.size(), 17u);

    const struct {
        const char *name;
        std::string_view field;
        std::string_view expected;
    } cases[] = {
        {"reader ID", readerIdField(identity), "05"},
        {"serial number", serialNumberField(identity), "12345678"},
        {"card number", cardNumberField(card), "0000ABCD"},
        {"output mode", outputModeField(mode), "1"},
        {"Wiegand format", wiegandFormatField(mode), "2"},
        {"RS485 format", rs485FormatField(mode), "1"},
        {"short version", versionField(shortVersion), std::string_view(shortVersion).substr(5)},
        {"past the end", serialNumberField("\n0A\r"), ""},
        {"at the last byte", replyField("\n0A\r", 4, 8), "\r"},
        {"position 0", replyField(identity, 0, 2), ""},
        {"empty reply", readerIdField(""), ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.field, c.expected);
    }
    EXPECT_EQ(decimalField(readerIdField(identity)), 5);
    EXPECT_EQ(hexToInt(cardNumberField(card)), 43981);
    // The reader's digits are data: anything but digits does not convert.
    for (const char *notDecimal : {"", " 5", "5x", "-1", "9999999999"}) {
        SCOPED_TRACE(notDecimal);
        EXPECT_EQ(decimalField(notDecimal), std::nullopt);
    }
}

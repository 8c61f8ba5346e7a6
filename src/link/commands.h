#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kt::link
{

// Command texts the tool sends to the reader.
inline constexpr std::string_view kIdentityQuery = "A00B";
inline constexpr std::string_view kVersionQuery = "A00V";
inline constexpr std::string_view kModeQuery = "A00A";
inline constexpr std::string_view kCardQuery = "A00F";

// The reply lengths (LF and CR included) the callers require.
constexpr int kIdentityReplyLength = 16;
constexpr int kCardReplyLength = 17;

// "A00A" + output mode + Wiegand format + RS485 format, each one decimal digit (0..9).
std::string setModeCommand(int outputMode, int wiegandFormat, int rs485Format);
// "A00C" + the 8-character serial number as received + the 2-character reader ID.
std::string setIdCommand(std::string_view serialNumber, std::string_view readerId);
// "A00E" + the command character of the line setting at that index. Empty for an index
// outside the table.
std::string setLineSettingsCommand(int lineSettingsIndex);

// A piece of a reply: 1-based position (1 is the LF), cut short at the reply's end; empty
// when it begins past the end.
std::string_view replyField(std::string_view reply, std::size_t position, std::size_t length);

// Fields of the identity query's reply.
std::string_view readerIdField(std::string_view reply);     // positions 3..4
std::string_view serialNumberField(std::string_view reply); // positions 6..13
// Field of the version query's reply.
std::string_view versionField(std::string_view reply); // positions 6..13
// Fields of the mode query's reply, one character each.
std::string_view outputModeField(std::string_view reply);    // position 6
std::string_view wiegandFormatField(std::string_view reply); // position 7
std::string_view rs485FormatField(std::string_view reply);   // position 8
// Field of the card query's reply.
std::string_view cardNumberField(std::string_view reply); // positions 7..14

// A field of decimal digits as a number; nullopt when empty or when any character is not a
// digit (the reader's fields are data and are never trusted).
std::optional<int> decimalField(std::string_view field);

} // namespace kt::link

#include "commands.h"

#include "line_table.h"

namespace kt::link
{

namespace
{
char digit(int value)
{
    return static_cast<char>('0' + (value >= 0 && value <= 9 ? value : 0));
}
} // namespace

std::string setModeCommand(int outputMode, int wiegandFormat, int rs485Format)
{
    std::string command(kModeQuery);
    command += digit(outputMode);
    command += digit(wiegandFormat);
    command += digit(rs485Format);
    return command;
}

std::string setIdCommand(std::string_view serialNumber, std::string_view readerId)
{
    std::string command = "A00C";
    command += serialNumber;
    command += readerId;
    return command;
}

std::string setLineSettingsCommand(int lineSettingsIndex)
{
    if (!isLineSettingsIndex(lineSettingsIndex))
        return {};
    std::string command = "A00E";
    command += kLineSettings[static_cast<std::size_t>(lineSettingsIndex)].commandChar;
    return command;
}

std::string_view replyField(std::string_view reply, std::size_t position, std::size_t length)
{
    if (position == 0 || position > reply.size())
        return {};
    return reply.substr(position - 1, length);
}

std::string_view readerIdField(std::string_view reply)
{
    return replyField(reply, 3, 2);
}
std::string_view serialNumberField(std::string_view reply)
{
    return replyField(reply, 6, 8);
}
std::string_view versionField(std::string_view reply)
{
    return replyField(reply, 6, 8);
}
std::string_view outputModeField(std::string_view reply)
{
    return replyField(reply, 6, 1);
}
std::string_view wiegandFormatField(std::string_view reply)
{
    return replyField(reply, 7, 1);
}
std::string_view rs485FormatField(std::string_view reply)
{
    return replyField(reply, 8, 1);
}
std::string_view cardNumberField(std::string_view reply)
{
    return replyField(reply, 7, 8);
}

std::optional<int> decimalField(std::string_view field)
{
    if (field.empty() || field.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace kt::link

#include "console.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

namespace kt::sim
{

namespace
{
constexpr std::string_view kHelp =
    "commands: card XXXXXXXX, nocard, silent on|off, delay MS, badsum on|off, "
    "lowersum on|off, stray on|off, idlen N (0 normal, 4..64), badfields on|off, "
    "corrupt PERCENT, keepid on|off, unplug, plug SERIAL [ID [LINE]], hangup, state, quit";

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> result;
    std::size_t at = 0;
    while (at < line.size()) {
        const auto start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos)
            break;
        auto end = line.find_first_of(" \t\r", start);
        if (end == std::string_view::npos)
            end = line.size();
        result.push_back(line.substr(start, end - start));
        at = end;
    }
    return result;
}

std::optional<std::uint32_t> number(std::string_view text, std::uint32_t max)
{
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

std::optional<bool> onOff(std::string_view text)
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    return std::nullopt;
}

bool *switchFault(Faults &faults, std::string_view name)
{
    if (name == "silent")
        return &faults.silent;
    if (name == "badsum")
        return &faults.badChecksum;
    if (name == "lowersum")
        return &faults.lowerChecksum;
    if (name == "stray")
        return &faults.strayByte;
    if (name == "badfields")
        return &faults.badFields;
    if (name == "keepid")
        return &faults.keepId;
    return nullptr;
}

ConsoleResult ok(std::string_view what, ConsoleAction action = ConsoleAction::None)
{
    return {"ok " + std::string(what), action};
}

ConsoleResult error(std::string_view why)
{
    return {"error: " + std::string(why), ConsoleAction::None};
}
// "plug SERIAL [ID [LINE]]": another reader on the line, otherwise as one fresh from its box.
ConsoleResult plug(SimReader &reader, const std::vector<std::string_view> &args)
{
    ReaderState state;
    if (!isValidSerialNumber(args[1]))
        return error("a serial number is 8 printable characters");
    state.serialNumber = args[1];
    if (args.size() > 2) {
        const auto id = number(args[2], 99);
        if (!id || *id < 1)
            return error("a reader ID is 1..99");
        state.readerId = static_cast<int>(*id);
    }
    if (args.size() > 3) {
        const auto line = number(args[3], kLineSettingsCount - 1);
        if (!line)
            return error("line settings are an index 0.." + std::to_string(kLineSettingsCount - 1));
        state.lineIndex = static_cast<int>(*line);
    }
    reader.plug(std::move(state));
    return ok("plug " + std::string(args[1]));
}
} // namespace

std::string describeState(const ReaderState &state)
{
    std::array<char, 128> text{};
    std::snprintf(text.data(), text.size(), "id %02d mode %s line %d (%d baud) card %s",
                  state.readerId, state.mode.c_str(), state.lineIndex,
                  lineBaudRate(state.lineIndex), state.card ? state.card->c_str() : "none");
    return text.data();
}

ConsoleResult runConsoleCommand(SimReader &reader, std::string_view line)
{
    const auto args = words(line);
    if (args.empty())
        return {};
    const std::string_view name = args[0];
    const std::size_t argc = args.size() - 1;
    Faults &faults = reader.faults();

    if (argc == 0) {
        if (name == "nocard") {
            reader.removeCard();
            return ok("nocard");
        }
        if (name == "state")
            return {describeState(reader.state()), ConsoleAction::None};
        if (name == "hangup")
            return ok("hangup", ConsoleAction::Hangup);
        if (name == "unplug") {
            reader.unplug();
            return ok("unplug");
        }
        if (name == "quit")
            return ok("quit", ConsoleAction::Quit);
        if (name == "help")
            return {std::string(kHelp), ConsoleAction::None};
    }
    if (argc == 1) {
        const std::string_view value = args[1];
        if (name == "card") {
            if (!reader.presentCard(value))
                return error("a card number is 8 hexadecimal characters");
            return ok("card " + *reader.state().card);
        }
        if (bool *fault = switchFault(faults, name)) {
            const auto on = onOff(value);
            if (!on)
                return error(std::string(name) + " takes on or off");
            *fault = *on;
            return ok(std::string(name) + (*on ? " on" : " off"));
        }
        if (name == "delay") {
            const auto ms = number(value, kMaxDelayMs);
            if (!ms)
                return error("delay takes milliseconds, 0.." + std::to_string(kMaxDelayMs));
            faults.delayMs = *ms;
            return ok("delay " + std::to_string(*ms));
        }
        if (name == "idlen") {
            const auto length = number(value, kMaxIdentityLength);
            if (!length || (*length != 0 && *length < kMinIdentityLength))
                return error("idlen takes 0 (normal) or a reply length of "
                             + std::to_string(kMinIdentityLength) + ".."
                             + std::to_string(kMaxIdentityLength));
            faults.identityLength = static_cast<int>(*length);
            return ok("idlen " + std::to_string(*length));
        }
        if (name == "corrupt") {
            const auto percent = number(value, 100);
            if (!percent)
                return error("corrupt takes a percentage, 0..100");
            faults.corruptPercent = static_cast<int>(*percent);
            return ok("corrupt " + std::to_string(*percent));
        }
    }
    if (name == "plug" && argc >= 1 && argc <= 3)
        return plug(reader, args);
    return error("unknown command or arguments: " + std::string(line.substr(0, 80))
                 + " (try help)");
}

} // namespace kt::sim

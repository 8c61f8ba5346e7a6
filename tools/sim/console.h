#pragma once

#include "sim_reader.h"

#include <string>
#include <string_view>

namespace kt::sim
{

// What the simulator's main loop must do after a command of its standard input.
enum class ConsoleAction {
    None,
    Hangup, // close the pseudo-terminal, as an unplugged converter would
    Quit,
};

struct ConsoleResult {
    std::string answer; // one line, no newline; empty for a blank input line
    ConsoleAction action = ConsoleAction::None;
};

constexpr std::uint32_t kMaxDelayMs = 60000;

// Carries out one line of the simulator's standard input on the reader: "card XXXXXXXX",
// "nocard", "silent on|off", "delay MS", "badsum on|off", "lowersum on|off", "stray on|off",
// "idlen N", "badfields on|off", "corrupt PERCENT", "keepid on|off", "unplug",
// "plug SERIAL [ID [LINE]]", "hangup", "state", "help", "quit".
// The answer starts with "ok" or "error:" ("state" and "help" answer with what they show).
ConsoleResult runConsoleCommand(SimReader &reader, std::string_view line);

// The one-line answer of "state": reader ID, mode digits, line index and baud rate, card.
std::string describeState(const ReaderState &state);

} // namespace kt::sim

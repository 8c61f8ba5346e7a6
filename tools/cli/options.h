#pragma once

// The command line of kt4500ctl: its commands, options and help texts.

#include "ops/operations.h"
#include "text/text_table.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kt::cli
{

// The words of the three mode lists on the command line, in the order of their items.
inline constexpr std::array<std::string_view, 2> kOutputWords = {"wiegand", "rs485"};
inline constexpr std::array<std::string_view, 3> kWiegandWords = {"26", "34", "42"};
inline constexpr std::array<std::string_view, 3> kRS485Words = {"24", "32", "40"};

enum class Command { Ports, Scan, SetId, SetLineSettings, SetMode, Preset, ReadCards, Provision };

// The reader IDs a provisioning run gives, in order.
struct IdRange {
    int first = 1;
    int last = 1;
};

// "FIRST-LAST" (or one ID "N"), each 1..99, FIRST not above LAST; nullopt for anything else.
std::optional<IdRange> idRangeOf(std::string_view text);

// The longest --seconds: a day. Longer runs are a loop in the caller's script.
constexpr std::uint32_t kMaxSecondsMs = 86'400'000;

// One run of kt4500ctl as the command line asks for it. Indices are those of the window's
// lists (LineSettingsList, cmbMode, cmbWiegand, cmbRS485).
struct Invocation {
    Command command = Command::Scan;

    // With every command.
    bool json = false;
    bool bell = false;
    bool verbose = false;
    std::optional<text::Language> language; // --lang
    std::optional<int> port;                // --port
    std::optional<int> lineSettingsIndex;   // --line-settings

    bool allLineSettings = false;  // scan: chkLock cleared; provision: look at each
    int readerId = 0;              // set-id: 1..99
    int newLineSettingsIndex = 0;  // set-line-settings: 0..11
    std::optional<int> outputMode; // set-mode, provision; unset: what the reader reported
    std::optional<int> wiegandFormat;
    std::optional<int> rs485Format;
    ops::Preset preset = ops::Preset::FactoryW26;
    std::optional<int> count;                      // read-cards: stop after this many cards
    std::optional<std::uint32_t> durationMs;       // read-cards: stop after this long
    bool everyPoll = false;                        // read-cards: a line at every poll with a card
    std::optional<IdRange> ids;                    // provision
    std::optional<int> provisionLineSettingsIndex; // provision: --new-line-settings
    std::optional<std::string> reportPath;         // provision: --report
};

struct ParseResult {
    enum class Kind {
        Run,     // invocation holds what to do
        Help,    // print text on standard output, exit 0
        Version, // the same
        Usage,   // print text on standard error, exit 2
    };
    Kind kind = Kind::Usage;
    Invocation invocation;
    std::string text;
};

// The arguments after the program name. Options may come before or after the command; a
// value follows its option as the next argument or after "=".
ParseResult parseArguments(std::span<const std::string_view> args);

// The index of a line-settings text of the window's list or of its index ("5",
// "19200,e,8,1", "19200,E,8,1"); nullopt for anything else.
std::optional<int> lineSettingsIndexOf(std::string_view text);

// The command's name on the command line ("set-id").
std::string_view commandName(Command command);

// The --help text of a command, or the program's when command is nullopt.
std::string helpText(std::optional<Command> command);

} // namespace kt::cli

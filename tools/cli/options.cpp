#include "options.h"

#include "link/line_table.h"
#include "text/text_table.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace kt::cli
{

namespace
{

struct CommandName {
    std::string_view name;
    Command command;
};

constexpr std::array<CommandName, 8> kCommandNames = {{
    {"ports", Command::Ports},
    {"scan", Command::Scan},
    {"set-id", Command::SetId},
    {"set-line-settings", Command::SetLineSettings},
    {"set-mode", Command::SetMode},
    {"preset", Command::Preset},
    {"read-cards", Command::ReadCards},
    {"provision", Command::Provision},
}};

struct PresetName {
    std::string_view name;
    ops::Preset preset;
};

constexpr std::array<PresetName, 5> kPresetNames = {{
    {"factory", ops::Preset::FactoryW26},
    {"wiegand34", ops::Preset::Wiegand34},
    {"wiegand42", ops::Preset::Wiegand42},
    {"rs485-24", ops::Preset::RS485Wiegand},
    {"rs485-115200", ops::Preset::RS485Fast},
}};

constexpr std::array<std::string_view, text::kLanguageCount> kLanguageCodes = {"en", "zh-CN",
                                                                               "zh-TW"};

constexpr unsigned bit(Command command)
{
    return 1u << static_cast<unsigned>(command);
}

// Which commands an option belongs to, one bit each; 0: every command.
struct OptionDef {
    std::string_view name;
    bool takesValue;
    unsigned only;
};

constexpr unsigned kModeCommands = bit(Command::SetMode) | bit(Command::Provision);

constexpr std::array<OptionDef, 19> kOptions = {{
    {"--json", false, 0},
    {"--bell", false, 0},
    {"--verbose", false, 0},
    {"--help", false, 0},
    {"--version", false, 0},
    {"--lang", true, 0},
    {"--port", true, 0},
    {"--line-settings", true, 0},
    {"--all-line-settings", false, bit(Command::Scan) | bit(Command::Provision)},
    {"--output", true, kModeCommands},
    {"--wiegand", true, kModeCommands},
    {"--rs485", true, kModeCommands},
    {"--count", true, bit(Command::ReadCards)},
    {"--seconds", true, bit(Command::ReadCards)},
    {"--every-poll", false, bit(Command::ReadCards)},
    {"--ids", true, bit(Command::Provision)},
    {"--new-line-settings", true, bit(Command::Provision)},
    {"--report", true, bit(Command::Provision)},
    {"--", false, 0},
}};

const OptionDef *findOption(std::string_view name)
{
    for (const OptionDef &def : kOptions) {
        if (def.name == name)
            return &def;
    }
    return nullptr;
}

std::optional<Command> findCommand(std::string_view name)
{
    for (const CommandName &c : kCommandNames) {
        if (c.name == name)
            return c.command;
    }
    return std::nullopt;
}

} // namespace

std::string_view commandName(Command command)
{
    for (const CommandName &c : kCommandNames) {
        if (c.command == command)
            return c.name;
    }
    return {};
}

namespace
{

std::string_view nameOf(Command command)
{
    return commandName(command);
}

template <std::size_t N>
std::optional<int> indexIn(const std::array<std::string_view, N> &words, std::string_view word)
{
    const auto at = std::find(words.begin(), words.end(), word);
    if (at == words.end())
        return std::nullopt;
    return static_cast<int>(at - words.begin());
}

template <std::size_t N> std::string alternatives(const std::array<std::string_view, N> &words)
{
    std::string all;
    for (std::string_view word : words)
        all += (all.empty() ? "" : "|") + std::string(word);
    return all;
}

// A whole decimal number within [low, high]; no sign, no blanks, no trailing characters.
std::optional<int> numberIn(std::string_view text, int low, int high)
{
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

// Seconds as a positive decimal number ("30", "0.5"), in milliseconds, at most a day.
std::optional<std::uint32_t> durationOf(std::string_view text)
{
    if (text.empty() || text.size() > 32 || !std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= '0' && c <= '9') || c == '.';
        }))
        return std::nullopt;
    const std::string copy(text);
    char *end = nullptr;
    const double seconds = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(seconds) || seconds <= 0
        || seconds * 1000.0 > kMaxSecondsMs)
        return std::nullopt;
    return static_cast<std::uint32_t>(std::max(1.0, std::round(seconds * 1000.0)));
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(x) == lower(y);
           });
}

ParseResult usage(std::string message, std::optional<Command> command = {})
{
    ParseResult result;
    result.kind = ParseResult::Kind::Usage;
    result.text = "kt4500ctl: " + message + "\nTry 'kt4500ctl "
                  + (command ? std::string(nameOf(*command)) + " " : std::string()) + "--help'.";
    return result;
}

struct GivenOption {
    const OptionDef *def;
    std::string_view value;
};

// Fills the invocation from one option; an error message when its value does not fit.
std::optional<std::string> applyOption(Invocation &inv, const GivenOption &given)
{
    const std::string_view name = given.def->name;
    const std::string_view value = given.value;
    const auto bad = [&](std::string_view expected) {
        return std::optional<std::string>("the value of " + std::string(name) + " must be "
                                          + std::string(expected) + ", not \"" + std::string(value)
                                          + "\"");
    };
    if (name == "--json") {
        inv.json = true;
    } else if (name == "--bell") {
        inv.bell = true;
    } else if (name == "--verbose") {
        inv.verbose = true;
    } else if (name == "--all-line-settings") {
        inv.allLineSettings = true;
    } else if (name == "--lang") {
        const std::optional<int> language = indexIn(kLanguageCodes, value);
        if (!language)
            return bad(alternatives(kLanguageCodes));
        inv.language = text::kLanguages[static_cast<std::size_t>(*language)];
    } else if (name == "--port") {
        inv.port = numberIn(value, 1, 9999);
        if (!inv.port)
            return bad("a port number from 1 to 9999");
    } else if (name == "--line-settings") {
        inv.lineSettingsIndex = lineSettingsIndexOf(value);
        if (!inv.lineSettingsIndex)
            return bad("an index 0 to 11 or one of the line settings 4800,n,8,1 to 115200,e,8,1");
    } else if (name == "--output") {
        inv.outputMode = indexIn(kOutputWords, value);
        if (!inv.outputMode)
            return bad(alternatives(kOutputWords));
    } else if (name == "--wiegand") {
        inv.wiegandFormat = indexIn(kWiegandWords, value);
        if (!inv.wiegandFormat)
            return bad(alternatives(kWiegandWords));
    } else if (name == "--rs485") {
        inv.rs485Format = indexIn(kRS485Words, value);
        if (!inv.rs485Format)
            return bad(alternatives(kRS485Words));
    } else if (name == "--every-poll") {
        inv.everyPoll = true;
    } else if (name == "--ids") {
        const std::optional<IdRange> ids = idRangeOf(value);
        if (!ids)
            return bad("a range of reader IDs FIRST-LAST within 1-99, FIRST not above LAST");
        inv.ids = *ids;
    } else if (name == "--new-line-settings") {
        inv.provisionLineSettingsIndex = lineSettingsIndexOf(value);
        if (!inv.provisionLineSettingsIndex)
            return bad("an index 0 to 11 or one of the line settings 4800,n,8,1 to 115200,e,8,1");
    } else if (name == "--report") {
        if (value.empty())
            return bad("the path of a file");
        inv.reportPath = std::string(value);
    } else if (name == "--count") {
        inv.count = numberIn(value, 1, 1'000'000'000);
        if (!inv.count)
            return bad("a number of cards from 1 up");
    } else if (name == "--seconds") {
        inv.durationMs = durationOf(value);
        if (!inv.durationMs)
            return bad("a number of seconds above 0, at most 86400");
    }
    return std::nullopt;
}

// The command's own arguments (after its name).
std::optional<std::string> applyArguments(Invocation &inv,
                                          const std::vector<std::string_view> &arguments)
{
    const auto expect = [&](std::size_t n, std::string_view what) -> std::optional<std::string> {
        if (arguments.size() < n)
            return std::string(nameOf(inv.command)) + " needs " + std::string(what);
        if (arguments.size() > n)
            return "unexpected argument \"" + std::string(arguments[n]) + "\"";
        return std::nullopt;
    };
    switch (inv.command) {
    case Command::Ports:
    case Command::Scan:
    case Command::ReadCards:
        return expect(0, "");
    case Command::Provision:
        if (auto error = expect(0, ""))
            return error;
        if (!inv.ids)
            return std::string("provision needs --ids FIRST-LAST, the reader IDs to give");
        return std::nullopt;
    case Command::SetMode:
        if (auto error = expect(0, ""))
            return error;
        if (!inv.outputMode && !inv.wiegandFormat && !inv.rs485Format)
            return std::string("set-mode needs at least one of --output, --wiegand, --rs485");
        return std::nullopt;
    case Command::SetId: {
        if (auto error = expect(1, "the reader ID N (1 to 99)"))
            return error;
        const std::optional<int> id = numberIn(arguments[0], 1, 99);
        if (!id)
            return "the reader ID must be a number from 1 to 99, not \"" + std::string(arguments[0])
                   + "\"";
        inv.readerId = *id;
        return std::nullopt;
    }
    case Command::SetLineSettings: {
        if (auto error = expect(1, "the line settings, as an index 0 to 11 or their text"))
            return error;
        const std::optional<int> index = lineSettingsIndexOf(arguments[0]);
        if (!index)
            return "the line settings must be an index 0 to 11 or one of 4800,n,8,1 to "
                   "115200,e,8,1, not \""
                   + std::string(arguments[0]) + "\"";
        inv.newLineSettingsIndex = *index;
        return std::nullopt;
    }
    case Command::Preset: {
        std::array<std::string_view, kPresetNames.size()> names{};
        std::transform(kPresetNames.begin(), kPresetNames.end(), names.begin(),
                       [](const PresetName &p) { return p.name; });
        if (auto error = expect(1, "the preset's name (" + alternatives(names) + ")"))
            return error;
        const std::optional<int> at = indexIn(names, arguments[0]);
        if (!at)
            return "the preset must be one of " + alternatives(names) + ", not \""
                   + std::string(arguments[0]) + "\"";
        inv.preset = kPresetNames[static_cast<std::size_t>(*at)].preset;
        return std::nullopt;
    }
    }
    return std::nullopt;
}

bool looksLikeNumber(std::string_view arg)
{
    return arg.size() > 1 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9';
}

} // namespace

std::optional<IdRange> idRangeOf(std::string_view text)
{
    const std::size_t dash = text.find('-');
    const std::optional<int> first = numberIn(text.substr(0, dash), 1, 99);
    const std::optional<int> last =
        dash == std::string_view::npos ? first : numberIn(text.substr(dash + 1), 1, 99);
    if (!first || !last || *first > *last)
        return std::nullopt;
    return IdRange{*first, *last};
}

std::optional<int> lineSettingsIndexOf(std::string_view text)
{
    if (auto index = numberIn(text, 0, static_cast<int>(link::kLineSettingsTexts.size()) - 1))
        return index;
    for (std::size_t i = 0; i < link::kLineSettingsTexts.size(); ++i) {
        if (equalsIgnoringCase(text, link::kLineSettingsTexts[i]))
            return static_cast<int>(i);
    }
    return std::nullopt;
}

ParseResult parseArguments(std::span<const std::string_view> args)
{
    std::vector<GivenOption> options;
    std::vector<std::string_view> positionals;
    bool help = false;
    bool version = false;
    bool onlyPositionals = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (onlyPositionals || arg.empty() || arg[0] != '-' || arg == "-" || looksLikeNumber(arg)) {
            positionals.push_back(arg);
            continue;
        }
        if (arg == "-h")
            arg = "--help";
        else if (arg == "-v")
            arg = "--verbose";
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const OptionDef *def = findOption(name);
        if (def == nullptr)
            return usage("unknown option " + std::string(name));
        if (name == "--") {
            onlyPositionals = true;
            continue;
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            if (!def->takesValue)
                return usage(std::string(name) + " takes no value");
            value = arg.substr(equals + 1);
        } else if (def->takesValue) {
            if (i + 1 >= args.size())
                return usage(std::string(name) + " needs a value");
            value = args[++i];
        }
        if (name == "--help")
            help = true;
        else if (name == "--version")
            version = true;
        else
            options.push_back({def, value});
    }

    std::optional<Command> command;
    if (!positionals.empty()) {
        if (positionals.front() == "help") {
            ParseResult result;
            result.kind = ParseResult::Kind::Help;
            if (positionals.size() > 2)
                return usage("help takes at most one command");
            // "help help" asks for the help text itself, which says what help does.
            if (positionals.size() == 2 && positionals[1] != "help") {
                command = findCommand(positionals[1]);
                if (!command)
                    return usage("unknown command \"" + std::string(positionals[1]) + "\"");
            }
            result.text = helpText(command);
            return result;
        }
        command = findCommand(positionals.front());
        if (!command)
            return usage("unknown command \"" + std::string(positionals.front()) + "\"");
    }
    if (help) {
        ParseResult result;
        result.kind = ParseResult::Kind::Help;
        result.text = helpText(command);
        return result;
    }
    if (version) {
        ParseResult result;
        result.kind = ParseResult::Kind::Version;
        return result;
    }
    if (!command)
        return usage("no command given");

    ParseResult result;
    result.kind = ParseResult::Kind::Run;
    Invocation &inv = result.invocation;
    inv.command = *command;
    for (const GivenOption &given : options) {
        if (given.def->only != 0 && (given.def->only & bit(inv.command)) == 0)
            return usage(std::string(given.def->name) + " does not go with "
                             + std::string(nameOf(inv.command)),
                         inv.command);
        if (auto error = applyOption(inv, given))
            return usage(*error, inv.command);
    }
    positionals.erase(positionals.begin());
    if (auto error = applyArguments(inv, positionals))
        return usage(*error, inv.command);
    return result;
}

std::string helpText(std::optional<Command> command)
{
    static constexpr std::string_view kCommonOptions = R"(
Options of every command:
  --port N               use port COM<N> for this run instead of the stored port
  --line-settings L      use the line settings L for this run (an index 0 to 11 or its
                         text, 4800,n,8,1 to 115200,e,8,1) instead of the stored ones
  --lang en|zh-CN|zh-TW  the texts in this language (default: the stored language)
  --json                 one JSON object per line for every outcome and card
  --bell                 ring the terminal bell where the window beeps
  -v, --verbose          also show the serial layer's log lines on standard error
  -h, --help             this text
)";
    static constexpr std::string_view kReadFirst = R"(
The reader is read first as a scan reads it, on the stored port (or --port) with the stored
line settings (or --line-settings) only: no other port and no other line settings are tried,
and nothing is saved. If no reader answers there, nothing is sent and the exit status is 1;
'kt4500ctl scan' finds the reader and stores where it is.
)";
    static constexpr std::string_view kExitStatus = R"(
Exit status: 0 success, 1 the reader failed or was not found (or standard output could not
be written), 2 usage error, 3 the port could not be opened, 4 the scan found the reader but
could not save its port and line settings, 130 interrupted before the operation ended.
)";

    std::string text;
    if (!command) {
        text = R"(Usage: kt4500ctl [OPTIONS] COMMAND [ARGUMENTS]

Sets up a TALVO KT4500 card reader over its serial line, with the operations, the link and
the stored settings of the kt4500-config window. The outcome of every command is the text the
window shows for it, on standard output.

Commands:
  ports                        the serial ports COM1 to COM16 and whether they can be opened
  scan                         find the reader and store its port and line settings
  set-id N                     give the reader the ID N (1 to 99)
  set-line-settings L          give the reader the line settings L (0 to 11, or the text)
  set-mode [--output wiegand|rs485] [--wiegand 26|34|42] [--rs485 24|32|40]
                               set the reader's output mode
  preset NAME                  factory, wiegand34, wiegand42, rs485-24 or rs485-115200
  read-cards [--count N] [--seconds S] [--every-poll]
                               show the cards presented until Ctrl-C
  provision --ids FIRST-LAST [--output ...] [--new-line-settings L] [--report FILE]
                               set up one reader after the other, each with the next ID
  help [COMMAND]               this text, or a command's
)";
        text += kCommonOptions;
        text += "  --version              the program's version\n";
        text += kReadFirst;
        text += kExitStatus;
        return text;
    }
    switch (*command) {
    case Command::Ports:
        text = R"(Usage: kt4500ctl ports [--port N] [--json]

Lists the ports COM1 to COM16 (and higher numbers pinned in the port folder), each with its
device and whether it is present, busy (held by another program), not permitted (the user
is not in the dialout group), unusable (the entry is not a terminal) or absent. Each port
is opened and closed again, as a scan does. With --port, only that port.
)";
        break;
    case Command::Scan:
        text = R"(Usage: kt4500ctl scan [--all-line-settings] [OPTIONS]

The window's "Scan Reader": tries the stored port first, then ports 1 to 16 with the stored
line settings (with --all-line-settings: with each of the 12 line settings), stores and saves
where the reader answered, and reads its serial number, version, ID and output mode.
With --port N, only port N is tried (at the stored or given line settings, and with
--all-line-settings at each), and no other port is ever stored.

  --all-line-settings    try every line setting on each port (the window's lock box cleared)
)";
        break;
    case Command::SetId:
        text = R"(Usage: kt4500ctl set-id N [OPTIONS]

The window's "Set Reader ID": gives the reader the ID N, 1 to 99.
)";
        break;
    case Command::SetLineSettings:
        text = R"(Usage: kt4500ctl set-line-settings INDEX|TEXT [OPTIONS]

The window's "Set Reader Baud Rate": gives the reader new line settings, an index of the list
or its text:
   0 4800,n,8,1    1 4800,e,8,1    2 9600,n,8,1     3 9600,e,8,1
   4 19200,n,8,1   5 19200,e,8,1   6 38400,n,8,1    7 38400,e,8,1
   8 57600,n,8,1   9 57600,e,8,1  10 115200,n,8,1  11 115200,e,8,1
As in the window, the stored settings keep the line settings the last scan found: later runs
reach the reader with --line-settings, or after 'kt4500ctl scan --all-line-settings'.
)";
        break;
    case Command::SetMode:
        text = R"(Usage: kt4500ctl set-mode [--output wiegand|rs485] [--wiegand 26|34|42]
                          [--rs485 24|32|40] [OPTIONS]

The window's "Set Reader Wiegand/RS485 Mode": the output, the Wiegand format and the RS485
format, all three sent together. What is not given stays as the reader reported it.
)";
        break;
    case Command::Preset:
        text = R"(Usage: kt4500ctl preset NAME [OPTIONS]

One of the window's quick settings; each gives the reader ID 01 as well:
  factory        Wiegand 26, 19200,e,8,1 (the factory default)
  wiegand34      Wiegand 34, 19200,e,8,1
  wiegand42      Wiegand 42, 19200,e,8,1
  rs485-24       RS485 24, 19200,e,8,1
  rs485-115200   RS485 32, 115200,e,8,1
As in the window, the stored line settings do not change.
)";
        break;
    case Command::ReadCards:
        text = R"(Usage: kt4500ctl read-cards [--count N] [--seconds S] [--every-poll] [OPTIONS]

The window's "Read Card": polls the reader and prints each card when it is presented (the
first reply with its number after one without it, or another number), until Ctrl-C (the
window's "Cancel Read Card": one more poll, then the port is closed; a poll held by a line
that never stops sending ends at once, status 130), until the reader stops answering, or
until:
  --count N      N cards have been presented (no poll after the Nth)
  --seconds S    S seconds have passed (then as Ctrl-C)
  --every-poll   print the card at every poll that reports one (--count counts those)
)";
        break;
    case Command::Provision:
        text = R"(Usage: kt4500ctl provision --ids FIRST-LAST [--output wiegand|rs485]
                          [--wiegand 26|34|42] [--rs485 24|32|40] [--new-line-settings L]
                          [--report FILE] [--all-line-settings] [OPTIONS]

Sets up a box of readers on the bench, one after the other, on the stored port (or --port):
plug in a reader, wait for its beep (or the line on standard output), unplug it, plug in the
next. For each reader it
  1. waits until a reader answers, asking about three times a second at the stored line
     settings (or --line-settings; with --all-line-settings at each of the 12 in turn);
  2. reads it as a scan does: serial number, version, ID and output mode;
  3. if that serial number was set up before (an ok row of this run or of the report),
     says "already set up as ID N" and changes nothing;
  4. gives it the next ID of the range, then the output mode if --output, --wiegand or
     --rs485 is given (what is not given stays as the reader's own), then the line settings
     L of --new-line-settings, last;
  5. reads it back: the ID and the mode must read as set;
  6. prints one line (one JSON object with --json), beeps, and appends a row to the report;
  7. waits until the reader is gone (two answers missed in a row, or another serial number
     answering), then goes on with the next.
It ends when every ID of the range has been given. An ID is used up only by a reader that
ended ok; after a failure the next reader gets the same ID. IDs that the report already gives
to a reader are not given again.

  --ids FIRST-LAST       the reader IDs to give, in order, within 1-99 ("5" gives one)
  --new-line-settings L  the line settings each reader is given last, as an index or text
  --report FILE          append one CSV row a reader to FILE (created with its header):
                         time,port,serial,version,id_before,id_after,mode_before,mode_after,
                         line_settings,outcome; outcome is ok, already, failed: STEP or
                         interrupted
  --all-line-settings    look for each reader at each of the 12 line settings
)";
        break;
    }
    text += kCommonOptions;
    if (*command != Command::Ports && *command != Command::Scan && *command != Command::Provision)
        text += kReadFirst;
    text += kExitStatus;
    if (*command == Command::Provision)
        text +=
            "For provision: 0 every ID given and no reader failed, 1 a reader failed (or the "
            "report\ncould not be written), 2 also when the report cannot be read or written at "
            "the start\n(nothing is sent then).\n";
    return text;
}

} // namespace kt::cli

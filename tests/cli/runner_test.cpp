// Commands run over a bank of fake ports on a fake clock: what reaches the line, what is
// printed, what is saved, and the exit status.
#include "fake_clock.h"
#include "fake_port_bank.h"
#include "link/reader_link.h"
#include "runner.h"
#include "text/text_table.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace kt::test
{
namespace
{

using link::PortError;

class CountingStore : public settings::SettingsStore
{
public:
    std::optional<settings::KeyValues> load() override { return settings::KeyValues{}; }
    settings::SaveResult
    save(const std::vector<std::pair<std::string, settings::Value>> &values) override
    {
        ++saves;
        if (fails)
            return settings::SaveResult::failed("the folder takes no file");
        for (const auto &[name, value] : values)
            key[name] = value;
        return settings::SaveResult::ok();
    }
    settings::KeyValues key;
    int saves = 0;
    bool fails = false;
};

// One run over fake ports, port 3 stored. Polls answer with `card`, or with no card.
struct CliRig {
    CliRig() { text::setLanguage(text::Language::English); }
    ~CliRig()
    {
        EXPECT_EQ(bank.openPort(), 0) << "the port is closed at the end";
        std::fclose(memory);
        std::free(buffer);
    }

    void addReader(int port, ReaderModel model = {})
    {
        bank.addPort(port, [this, model](int, const std::string &line, const std::string &cmd) {
            if (cmd != "A00F")
                return model.answer(line, cmd);
            ++polls;
            if (onPoll)
                onPoll(polls);
            if (!pollsAnswered)
                return Answer::silence();
            return Answer::reply(cardBody(card.value_or("")));
        });
    }
    void addBusy(int port, PortError error)
    {
        bank.addPort(port);
        bank.setBusy(port, true, error);
    }

    int run(const std::vector<std::string> &args)
    {
        std::vector<std::string_view> views(args.begin(), args.end());
        const cli::ParseResult parsed = cli::parseArguments(views);
        EXPECT_EQ(parsed.kind, cli::ParseResult::Kind::Run) << parsed.text;
        cli::Printer printer(output ? output : memory, parsed.invocation.json);
        cli::Runner::Io io{printer,
                           [this](const std::string &line) { notes += line + "\n"; },
                           [this] { return interruptWhen && interruptWhen(); },
                           {},
                           {},
                           {}};
        cli::Runner runner(link, watch, store, stored, io, view);
        return runner.run(parsed.invocation);
    }

    std::vector<std::string> lines()
    {
        std::fflush(memory);
        std::istringstream in(std::string(buffer, size));
        std::vector<std::string> all;
        for (std::string line; std::getline(in, line);)
            all.push_back(line);
        return all;
    }
    int sent(std::string_view command) const
    {
        return static_cast<int>(std::count(bank.commands.begin(), bank.commands.end(), command));
    }

    FakeClock clock;
    FakePortBank bank{clock};
    cli::PortWatch watch{bank};
    link::ReaderLink link{watch, clock};
    CountingStore store;
    settings::AppSettings stored{3, "19200,e,8,1", 5, "English"};
    char *buffer = nullptr;
    std::size_t size = 0;
    std::FILE *memory = ::open_memstream(&buffer, &size);
    std::FILE *output = nullptr;
    std::string notes;
    std::function<bool()> interruptWhen;
    cli::TerminalView *view = nullptr; // nullptr: the runner's own
    std::optional<std::string> card;
    std::function<void(int)> onPoll;
    bool pollsAnswered = true;
    int polls = 0;
};

TEST(Runner, ExitStatusFollowsTheOutcomeAndThePort)
{
    const struct {
        const char *name;
        std::vector<std::string> args;
        std::function<void(CliRig &)> setUp;
        int status;
        const char *firstLine;
        const char *note; // "": none
    } cases[] = {
        {"silent reader",
         {"set-id", "7"},
         [](CliRig &r) { r.bank.addPort(3); },
         1,
         "Reader Not Find",
         "no reader answered on COM3 at 19200,e,8,1"},
        {"busy",
         {"set-id", "7"},
         [](CliRig &r) { r.addBusy(3, PortError::Busy); },
         3,
         "Reader Not Find",
         "COM3 (/dev/ttyUSB3) is held by another program"},
        {"not permitted",
         {"read-cards"},
         [](CliRig &r) { r.addBusy(3, PortError::PermissionDenied); },
         3,
         "Reader Not Find",
         "COM3 (/dev/ttyUSB3): permission denied"},
        {"nothing stored",
         {"scan"},
         [](CliRig &r) { r.stored.portNumber = 0; },
         1,
         "Reader Not Find",
         ""},
        {"a busy port in the search",
         {"scan"},
         [](CliRig &r) {
             r.stored.portNumber = 0;
             r.addBusy(2, PortError::Busy);
         },
         3,
         "Reader Not Find",
         "COM2 (/dev/ttyUSB2) is held by another program"},
        {"a busy port before the reader",
         {"scan"},
         [](CliRig &r) {
             r.stored.portNumber = 0;
             r.addBusy(2, PortError::Busy);
             r.addReader(5);
         },
         0,
         "Get Reader Info Ok. (COM : #5)",
         ""},
        {"no port stored",
         {"set-id", "7"},
         [](CliRig &r) { r.stored.portNumber = 0; },
         1,
         "Reader Not Find",
         "run 'kt4500ctl scan' first"},
        {"polls unanswered",
         {"read-cards"},
         [](CliRig &r) {
             r.addReader(3);
             r.onPoll = [&r](int) { r.pollsAnswered = false; };
         },
         1,
         "Reader Not Find",
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        CliRig rig;
        c.setUp(rig);
        EXPECT_EQ(rig.run(c.args), c.status) << rig.notes;
        EXPECT_EQ(rig.lines().at(0), c.firstLine);
        if (*c.note == '\0') {
            EXPECT_EQ(rig.notes, "");
        } else {
            EXPECT_NE(rig.notes.find(c.note), std::string::npos) << rig.notes;
        }
    }
}

TEST(Runner, OnlyTheScanSearchesAndSaves)
{
    CliRig check;
    check.bank.addPort(3); // silent
    check.addReader(5);
    EXPECT_EQ(check.run({"set-id", "7"}), 1);
    for (const std::string &event : check.bank.log)
        EXPECT_EQ(event.find(" 5 "), std::string::npos) << "port 5 is left alone: " << event;
    EXPECT_EQ(check.store.saves, 0);

    CliRig scan;
    scan.bank.addPort(3);
    scan.addReader(5);
    EXPECT_EQ(scan.run({"scan"}), 0);
    EXPECT_EQ(scan.store.key.at("ScanCommNo").dword, 5u);

    // Found where the run said, without a search: nothing is stored, and a note says so.
    CliRig given;
    given.addReader(7);
    EXPECT_EQ(given.run({"scan", "--port", "7"}), 0);
    EXPECT_EQ(given.store.saves, 0);
    EXPECT_NE(given.notes.find("the stored settings are unchanged"), std::string::npos);

    // With --port, the scan tries that port only, at each line setting when asked, and never
    // finds or stores the reader on another.
    for (const char *each : {"--port", "--all-line-settings"}) {
        SCOPED_TRACE(each);
        CliRig pinned;
        pinned.bank.addPort(3);
        pinned.addReader(4);
        std::vector<std::string> args = {"scan", "--port", "3"};
        if (std::string_view(each) != "--port")
            args.push_back(each);
        EXPECT_EQ(pinned.run(args), 1);
        for (const std::string &event : pinned.bank.log)
            EXPECT_EQ(event.find(" 4 "), std::string::npos) << "port 4 is left alone: " << event;
        EXPECT_EQ(pinned.store.saves, 0);
        EXPECT_EQ(pinned.sent("A00B"), args.size() == 4 ? 3 + 12 * 2 : 3 + 2);
    }

    // A search that found the reader but could not store where says so in its exit status.
    CliRig unsaved;
    unsaved.stored.portNumber = 0;
    unsaved.addReader(5);
    unsaved.store.fails = true;
    EXPECT_EQ(unsaved.run({"scan"}), cli::kExitNotSaved);
    EXPECT_EQ(unsaved.lines().at(0), "Get Reader Info Ok. (COM : #5)");
    EXPECT_NE(unsaved.notes.find("could not be stored"), std::string::npos) << unsaved.notes;
}

TEST(Runner, SetCommandsStartFromWhatTheReaderReported)
{
    const struct {
        const char *readerId;
        const char *mode;
        std::vector<std::string> args;
        const char *command;
    } cases[] = {
        {"05", "001", {"set-id", "7"}, "A00C1234567807"},
        {"07", "001", {"set-id", "7"}, "A00C1234567807"},
        // ID 00 leaves the bar at 1 and pnID at "00": asked for 1, the reader must get 01.
        {"00", "001", {"set-id", "1"}, "A00C1234567801"},
        {"05", "120", {"set-mode", "--wiegand", "34"}, "A00A110"},
        {"05", "120", {"set-mode", "--output", "wiegand"}, "A00A020"},
        {"05", "001", {"set-line-settings", "115200,e,8,1"}, "A00EB"},
        {"05", "001", {"preset", "wiegand42"}, "A00A021"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        CliRig rig;
        ReaderModel model;
        model.id = c.readerId;
        model.mode = c.mode;
        rig.addReader(3, model);
        EXPECT_EQ(rig.run(c.args), 0) << rig.notes;
        EXPECT_EQ(rig.sent(c.command), 1);
        EXPECT_EQ(rig.store.saves, 0);
    }
}

TEST(Runner, AnInterruptOutsideTheCardLoopEndsTheRunWithoutTheReader)
{
    CliRig rig;
    rig.addReader(3);
    rig.interruptWhen = [] { return true; };
    EXPECT_EQ(rig.run({"set-id", "7"}), cli::kExitInterrupted);
    EXPECT_EQ(rig.sent("A00C1234567807"), 0);

    // The exchange in hand ends at the interrupt: the candidate's second try is not sent and
    // no further port is opened.
    CliRig sweep;
    sweep.stored.portNumber = 0;
    for (int port = 1; port <= 16; ++port)
        sweep.bank.addPort(port);
    int pumps = 0; // the first pump comes before any port is opened
    sweep.interruptWhen = [&pumps] { return ++pumps == 2; };
    EXPECT_EQ(sweep.run({"scan", "--all-line-settings"}), cli::kExitInterrupted);
    EXPECT_EQ(sweep.sent("A00B"), 1);
    EXPECT_EQ(std::count_if(sweep.bank.log.begin(), sweep.bank.log.end(),
                            [](const std::string &e) { return e.rfind("open ", 0) == 0; }),
              1);
}

TEST(Runner, ReadCardsStopsAsTheCancelButtonDoes)
{
    const struct {
        std::vector<std::string> args;
        int interruptAfterPoll; // 0: none
        int polls;
    } cases[] = {
        // An interrupt is a Cancel click: the pass in progress with its poll, then the end.
        {{"read-cards", "--every-poll"}, 2, 3},
        {{"read-cards", "--every-poll", "--count", "5"}, 1, 2},
        {{"read-cards", "--every-poll", "--count", "3"}, 0, 3}, // no poll after the last card
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.polls);
        CliRig rig;
        rig.addReader(3);
        rig.card = "00BC614E";
        bool armed = false;
        rig.onPoll = [&](int poll) { armed = poll == c.interruptAfterPoll; };
        rig.interruptWhen = [&] { return std::exchange(armed, false); };
        EXPECT_EQ(rig.run(c.args), 0) << rig.notes;
        EXPECT_EQ(rig.polls, c.polls);
        EXPECT_EQ(rig.lines(), std::vector<std::string>(static_cast<std::size_t>(c.polls),
                                                        "Card ID : 0012345678  00BC614E(H)"));
    }

    // Without --every-poll, a card is shown when it is presented: after a poll without it, or
    // when another one takes its place; --count counts presentations.
    const std::optional<std::string> kA = "00BC614E", kB = "0000ABCD";
    const std::vector<std::optional<std::string>> held = {kA, kA, {}, kA, kA, kB, kB, kB, kB};
    for (bool everyPoll : {false, true}) {
        SCOPED_TRACE(everyPoll);
        CliRig rig;
        rig.addReader(3);
        rig.onPoll = [&](int poll) { rig.card = held.at(static_cast<std::size_t>(poll - 1)); };
        std::vector<std::string> args = {"read-cards", "--count", "3"};
        if (everyPoll)
            args.push_back("--every-poll");
        EXPECT_EQ(rig.run(args), 0) << rig.notes;
        EXPECT_EQ(rig.polls, everyPoll ? 4 : 6);
        const std::string a = "Card ID : 0012345678  00BC614E(H)";
        const std::string b = "Card ID : 0000043981  0000ABCD(H)";
        const std::vector<std::string> expected =
            everyPoll ? std::vector<std::string>{a, a, a} : std::vector<std::string>{a, a, b};
        EXPECT_EQ(rig.lines(), expected);
    }

    CliRig piped;
    piped.addReader(3);
    piped.card = "00BC614E";
    piped.output = std::fopen("/dev/full", "w");
    ASSERT_NE(piped.output, nullptr);
    EXPECT_EQ(piped.run({"read-cards"}), 0);
    EXPECT_EQ(piped.polls, 1) << "a card that cannot be written stops the loop";
    std::fclose(piped.output);
}

// The terminal's controls with other tones and other words on every display-only panel, as
// another tone table or a fourth language would give them.
class ReskinnedView final : public cli::TerminalView
{
public:
    void beep(int frequencyHz, int durationMs) override
    {
        TerminalView::beep(frequencyHz == ops::kSuccessBeepHz ? 440 : 880, durationMs);
    }
    void setPanelText(ops::Panel panel, std::string_view utf8) override
    {
        const bool shownOnly = panel != ops::Panel::ID;
        TerminalView::setPanelText(panel, shownOnly ? "~" + std::string(utf8) : std::string(utf8));
    }
};

TEST(Runner, ReportsTheSameWhateverTheViewSoundsOrShows)
{
    const struct {
        const char *name;
        std::vector<std::string> args;
        std::function<void(CliRig &)> setUp;
    } cases[] = {
        {"scan", {"scan", "--json"}, [](CliRig &r) { r.addReader(3); }},
        {"scan, plain", {"scan"}, [](CliRig &r) { r.addReader(3); }},
        {"set-id", {"set-id", "7", "--json"}, [](CliRig &r) { r.addReader(3); }},
        {"cards",
         {"read-cards", "--count", "2", "--every-poll", "--json"},
         [](CliRig &r) {
             r.addReader(3);
             r.card = "00BC614E";
         }},
        {"cards, plain",
         {"read-cards", "--count", "1"},
         [](CliRig &r) {
             r.addReader(3);
             r.card = "0000ABCD";
         }},
        {"silent reader", {"set-id", "7", "--json"}, [](CliRig &r) { r.bank.addPort(3); }},
        {"busy port",
         {"scan", "--json"},
         [](CliRig &r) {
             r.stored.portNumber = 0;
             r.addBusy(2, PortError::Busy);
         }},
        {"polls unanswered",
         {"read-cards", "--json"},
         [](CliRig &r) {
             r.addReader(3);
             r.onPoll = [&r](int) { r.pollsAnswered = false; };
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        CliRig plain;
        c.setUp(plain);
        const int plainStatus = plain.run(c.args);

        CliRig reskinned;
        c.setUp(reskinned);
        ReskinnedView view;
        reskinned.view = &view;
        EXPECT_EQ(reskinned.run(c.args), plainStatus);
        EXPECT_EQ(reskinned.lines(), plain.lines());
        EXPECT_EQ(reskinned.notes, plain.notes);
        EXPECT_EQ(view.panelText(ops::Panel::Msg).substr(0, 1), "~") << "the view was in use";
    }
}

QJsonObject parsed(const std::string &line)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    return doc.object();
}

TEST(Runner, ReaderBytesNeverReachTheTerminalRawAndJsonStaysValid)
{
    ReaderModel hostile;
    hostile.serial = "12\x1B[2J78"; // a terminal command in the serial number
    hostile.mode = "120";
    CliRig text;
    text.addReader(3, hostile);
    EXPECT_EQ(text.run({"scan"}), 0);
    EXPECT_EQ(text.lines().at(1), "S/N : 12\uFFFD[2J78");
    EXPECT_EQ(text.lines().at(5), "RS485, Wiegand 42, RS485 24");

    CliRig cards;
    cards.addReader(3);
    cards.card = "FFFFFFFF";
    EXPECT_EQ(cards.run({"--json", "read-cards", "--count", "1"}), 0);
    const QJsonObject card = parsed(cards.lines().at(0));
    EXPECT_EQ(card.value("decimal").toInt(), -1);
    EXPECT_EQ(card.value("message").toString(), "Card ID : -000000001  FFFFFFFF(H)");
    EXPECT_TRUE(parsed(cards.lines().at(1)).value("message").isNull());
}

TEST(DescribeFailure, NamesTheHolderAndAPortWithoutDevice)
{
    EXPECT_EQ(cli::describeFailure({PortError::Busy, 4, "/dev/ttyS3", 4242, {}, "busy"}),
              "COM4 (/dev/ttyS3) is held by another program (process 4242); close that program "
              "and try again.");
    EXPECT_EQ(cli::describeFailure({PortError::NoSuchDevice, 40, "", 0, {}, ""}),
              "COM40: no such port");
}

} // namespace
} // namespace kt::test

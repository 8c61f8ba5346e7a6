#include "ops_fixture.h"

#include <set>

namespace kt::test
{
namespace
{

// Spelled out here so that a change of the list's order shows up as a changed sweep.
const std::vector<std::string> kLines = {
    "4800,n,8,1",  "4800,e,8,1",  "9600,n,8,1",  "9600,e,8,1",  "19200,n,8,1",  "19200,e,8,1",
    "38400,n,8,1", "38400,e,8,1", "57600,n,8,1", "57600,e,8,1", "115200,n,8,1", "115200,e,8,1"};

const std::map<List, int> kStartSelections = {
    {List::BaudRate, 5}, {List::Mode, 0}, {List::Wiegand, 0}, {List::RS485, 1}};

std::vector<std::string> tail(const std::vector<std::string> &events, std::size_t n)
{
    return {events.end() - static_cast<std::ptrdiff_t>(std::min(n, events.size())), events.end()};
}

TEST(Discovery, SweepsPortsAndLineSettingsInOrder)
{
    struct Case {
        const char *name;
        bool lock;
        int storedIndex;
        std::set<int> ports;  // ports that exist; none has a reader
        const char *lockLine; // the one line setting tried per port with chkLock ticked
    };
    const Case cases[] = {
        {"lock ticked", true, 7, {2, 5}, "38400,e,8,1"},
        {"lock cleared", false, 7, {2}, nullptr},
        {"lock ticked, stored index above the list", true, 12, {4}, "19200,e,8,1"},
        {"lock ticked, negative stored index", true, -1, {16}, "19200,e,8,1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.view.lockChecked = c.lock;
        r.settings = {0, "", c.storedIndex, "English"};
        for (int port : c.ports)
            r.bank.addPort(port);
        r.bank.addPort(9);
        r.bank.setBusy(9); // held by another program: left like a missing port

        ops::scanReader(r.ctx);

        std::vector<std::string> expected;
        for (int port = 1; port <= 16; ++port) {
            const std::string open = "open " + std::to_string(port) + " ";
            if (!c.ports.count(port)) {
                expected.push_back(open + (c.lock ? c.lockLine : kLines[0]) + " failed");
                continue;
            }
            for (std::size_t i = 0; i < (c.lock ? 1 : kLines.size()); ++i)
                expected.push_back(open + (c.lock ? std::string(c.lockLine) : kLines[i]));
        }
        EXPECT_EQ(r.view.starting("open "), expected);
        const std::size_t candidates = c.ports.size() * (c.lock ? 1 : kLines.size());
        EXPECT_EQ(r.bank.commands.size(), 2 * candidates); // two identity queries each
        EXPECT_EQ(r.view.starting("text Msg Scan COM").size(), candidates);
        for (const std::string &e : r.view.starting("select BaudRate"))
            EXPECT_TRUE(e != "select BaudRate 12" && e != "select BaudRate -1") << e;
        EXPECT_EQ(r.settings.portNumber, 0);
        EXPECT_EQ(r.view.count("save link"), 0);
    }
}

TEST(Discovery, EndsWithTheOutcomeOfWhatAnswered)
{
    struct Case {
        const char *name;
        int storedPort;
        ReaderScript reader; // behind port 3
        bool lock;
        std::vector<std::string> tail;
        bool saved;
        bool readerFound;
        ops::Outcome outcome;
        int textId;
    };
    ReaderModel at9600;
    at9600.lineSettings = "9600,e,8,1";
    const ReaderScript identityOnly = [&](int, const std::string &line, const std::string &cmd) {
        return cmd == "A00B" ? at9600.answer(line, cmd) : Answer::silence();
    };
    const Case cases[] = {
        {"found on the stored port",
         3,
         ReaderModel{}.script(),
         true,
         {"text Msg Get Reader Info Ok. (COM : #3)", "close 3", "busy off", "lamp Comm Yellow",
          "beep 1000 300", "cursor Default"},
         false,
         true,
         ops::Outcome::Ok,
         text::ids::kTextInfoOk},
        {"found by the sweep, info read fails",
         0,
         identityOnly,
         false,
         {"close 3", "busy off", "lamp Comm Red", "text Msg Get Reader Info Error. (COM : #3)",
          "beep 300 300", "cursor Default"},
         true,
         false,
         ops::Outcome::ReaderFailed,
         text::ids::kTextInfoError},
        {"not found",
         3,
         {},
         true,
         {"busy off", "lamp Comm Red", "select BaudRate 5", "text Msg Reader Not Find",
          "beep 300 300", "cursor Default"},
         false,
         false,
         ops::Outcome::ReaderNotFound,
         text::ids::kTextReaderNotFind},
        // Shown as any other miss, but reported as the port it is.
        {"stored port missing, none found",
         4,
         {},
         true,
         {"busy off", "lamp Comm Red", "select BaudRate 5", "text Msg Reader Not Find",
          "beep 300 300", "cursor Default"},
         false,
         false,
         ops::Outcome::PortNotOpened,
         text::ids::kTextReaderNotFind},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.view.lockChecked = c.lock;
        r.state.readerFound = true; // every scan clears it first
        r.settings = {c.storedPort, "19200,e,8,1", 5, "English"};
        r.bank.addPort(3, c.reader);

        const ops::Result result = ops::scanReader(r.ctx);

        EXPECT_EQ(tail(r.view.events, c.tail.size()), c.tail) << r.view.dump();
        EXPECT_EQ(r.view.count("save link"), c.saved ? 1 : 0);
        EXPECT_EQ(r.state.readerFound, c.readerFound);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.textId, c.textId);
        EXPECT_EQ(result.message, r.view.panels[Panel::Msg]);
        EXPECT_EQ(result.saved, c.saved);
        EXPECT_EQ(result.reader.has_value(), c.readerFound);
        const settings::AppSettings expected =
            c.saved ? settings::AppSettings{3, "9600,e,8,1", 3, "English"}
                    : settings::AppSettings{c.storedPort, "19200,e,8,1", 5, "English"};
        EXPECT_EQ(r.settings.portNumber, expected.portNumber);
        EXPECT_EQ(r.settings.lineSettingsText, expected.lineSettingsText);
        EXPECT_EQ(r.settings.lineSettingsIndex, expected.lineSettingsIndex);
    }
}

TEST(Discovery, PreparesThenReadsTheInfoInItsOrder)
{
    Rig r;
    r.bank.addPort(3, ReaderModel{}.script());
    ops::scanReader(r.ctx);

    const std::vector<std::string> start = {"cursor Hourglass",
                                            "busy on",
                                            "text Msg Scan Reader ....",
                                            "text Serial S/N : ________",
                                            "text Version VER : __.__-__",
                                            "text ID __",
                                            "pump",
                                            "select BaudRate 5",
                                            "open 3 19200,e,8,1",
                                            "text Msg Scan COM : #3",
                                            "send 3 A00B",
                                            "close 3"};
    EXPECT_EQ(std::vector<std::string>(r.view.events.begin(), r.view.events.begin() + 12), start);
    EXPECT_TRUE(r.view.inOrder(
        {"close 3", "select BaudRate 5", "text Serial S/N : 12345678", "text ID 05", "id 5",
         "open 3 19200,e,8,1", "sleep 100", "send 3 A00V", "sleep 100",
         "text Version VER : 03.20-01", "send 3 A00A", "select Mode 0", "select Wiegand 0",
         "select RS485 1", "text Msg Get Reader Info Ok. (COM : #3)", "close 3", "busy off"}))
        << r.view.dump();
    EXPECT_EQ(r.view.idPosition, 5);
    EXPECT_EQ(r.view.panels[Panel::ID], "05");
}

TEST(Discovery, ReportsWhatTheReaderSaid)
{
    Rig r;
    ReaderModel model;
    model.id = "42";
    model.serial = "87654321";
    model.version = "01.02-03";
    model.mode = "127"; // 7: a format the list does not have
    r.bank.addPort(3, model.script());

    const ops::Result result = ops::scanReader(r.ctx);

    ASSERT_TRUE(result.reader) << r.view.dump();
    const ops::ReaderInfo &info = *result.reader;
    EXPECT_EQ(info.port, 3);
    EXPECT_EQ(info.lineSettingsIndex, 5);
    EXPECT_EQ(info.serialNumber, "87654321");
    EXPECT_EQ(info.version, "01.02-03");
    EXPECT_EQ(info.readerId, "42");
    EXPECT_EQ(info.outputMode, 1);
    EXPECT_EQ(info.wiegandFormat, 2);
    EXPECT_EQ(info.rs485Format, 7);
    EXPECT_EQ(result.message, "Get Reader Info Ok. (COM : #3)");
}

TEST(Discovery, AcceptsOnlySixteenByteIdentityReplies)
{
    for (const char *serial : {"1234567", "12345678", "123456789"}) { // 15, 16, 17 bytes
        SCOPED_TRACE(serial);
        Rig r;
        ReaderModel model;
        model.serial = serial;
        r.bank.addPort(3, model.script());
        ops::scanReader(r.ctx);

        const bool sixteen = std::string_view(serial).size() == 8;
        EXPECT_EQ(r.state.readerFound, sixteen);
        // Three tries on the stored port, then two when the sweep comes to port 3.
        EXPECT_EQ(r.sent("A00B"), sixteen ? 1 : 5);
    }
}

TEST(Discovery, VersionAndModeQueries)
{
    struct Case {
        const char *name;
        int versionSilences; // the first n version queries get no answer
        bool modeAnswers;
        int versionQueries;
        int modeQueries;
        const char *version;
        bool readerFound;
    };
    const Case cases[] = {
        {"both answer", 0, true, 1, 1, "VER : 03.20-01", true},
        {"version answers at the second try", 1, true, 2, 1, "VER : 03.20-01", true},
        {"version never answers", 2, true, 2, 0, "VER : __.__-__", false},
        {"version answers, mode does not", 0, false, 1, 1, "VER : 03.20-01", false},
    };
    const std::map<List, int> before = {
        {List::BaudRate, 5}, {List::Mode, 1}, {List::Wiegand, 2}, {List::RS485, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Rig r;
        r.view.selections = before;
        int versions = 0;
        r.bank.addPort(3, [&](int, const std::string &line, const std::string &cmd) {
            if ((cmd == "A00V" && ++versions <= c.versionSilences)
                || (cmd == "A00A" && !c.modeAnswers))
                return Answer::silence();
            return ReaderModel{}.answer(line, cmd);
        });
        ops::scanReader(r.ctx);

        EXPECT_EQ(r.sent("A00V"), c.versionQueries);
        EXPECT_EQ(r.sent("A00A"), c.modeQueries);
        EXPECT_EQ(r.view.panels[Panel::Version], c.version);
        EXPECT_EQ(r.state.readerFound, c.readerFound);
        EXPECT_EQ(r.view.selections, c.readerFound ? kStartSelections : before);
    }
}

TEST(Discovery, FieldsTheListsCannotTakeEndAsInfoError)
{
    struct Case {
        const char *id;
        const char *mode;
        bool readerFound;
        std::map<List, int> selections;
        int idPosition;
    };
    const Case cases[] = {
        {"0A", "001", false, kStartSelections, 1},
        {" 7", "001", false, kStartSelections, 1},
        {"05", "x01", false, kStartSelections, 5},
        {"05", "0x1", false, kStartSelections, 5},
        {"05", "00-", false, kStartSelections, 5},
        // Digits without a list item leave those lists without a selection.
        {"05",
         "139",
         true,
         {{List::BaudRate, 5}, {List::Mode, 1}, {List::Wiegand, -1}, {List::RS485, -1}},
         5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.id) + " / " + c.mode);
        Rig r;
        ReaderModel model;
        model.id = c.id;
        model.mode = c.mode;
        r.bank.addPort(3, model.script());
        ops::scanReader(r.ctx);

        EXPECT_EQ(r.state.readerFound, c.readerFound);
        EXPECT_EQ(r.view.selections, c.selections);
        EXPECT_EQ(r.view.idPosition, c.idPosition);
        EXPECT_EQ(r.view.panels[Panel::ID], c.idPosition == 1 ? c.id : "05");
        const std::string msg =
            c.readerFound ? "Get Reader Info Ok. (COM : #3)" : "Get Reader Info Error. (COM : #3)";
        EXPECT_EQ(r.view.panels[Panel::Msg], msg);
        EXPECT_EQ(tail(r.view.events, 3),
                  (std::vector<std::string>{c.readerFound ? "lamp Comm Yellow" : "text Msg " + msg,
                                            c.readerFound ? "beep 1000 300" : "beep 300 300",
                                            "cursor Default"}));
        EXPECT_FALSE(r.view.busy);
        // A reader ID that cannot be read as a number is not worth opening the port again.
        EXPECT_EQ(r.sent("A00V"), c.idPosition == 1 ? 0 : 1);
    }
}

TEST(Discovery, ReaderIdZeroMovesTheBarToOne)
{
    for (const auto &[position, shown] : {std::pair{1, "00"}, std::pair{7, "01"}}) {
        SCOPED_TRACE(position);
        Rig r;
        r.view.idPosition = position;
        ReaderModel model;
        model.id = "00";
        r.bank.addPort(3, model.script());
        ops::scanReader(r.ctx);
        EXPECT_EQ(r.view.idPosition, 1);
        EXPECT_EQ(r.view.panels[Panel::ID], shown);
    }
}

TEST(Discovery, StoredPortAboveSixteenIsTriedOnlyFirst)
{
    {
        Rig r;
        r.settings.portNumber = 20;
        r.bank.addPort(20);
        ops::scanReader(r.ctx);
        EXPECT_EQ(r.view.starting("open 20 ").size(), 1u);
        EXPECT_EQ(r.view.starting("open ").size(), 17u); // port 20, then 1 to 16
        EXPECT_EQ(r.sent("A00B"), 3);
    }
    Rig r;
    r.settings.portNumber = 20;
    r.bank.addPort(20, ReaderModel{}.script());
    ops::scanReader(r.ctx);
    EXPECT_EQ(r.view.panels[Panel::Msg], "Get Reader Info Ok. (COM : #20)");
    EXPECT_EQ(r.view.count("save link"), 0);
}

TEST(Discovery, StoredIndexOutOfRangeSelectsTheDefaultEntry)
{
    Rig r;
    r.settings.lineSettingsIndex = 12;
    r.bank.addPort(3, ReaderModel{}.script());
    ops::scanReader(r.ctx);
    EXPECT_TRUE(r.state.readerFound);
    EXPECT_EQ(r.view.starting("select BaudRate"),
              (std::vector<std::string>{"select BaudRate 5", "select BaudRate 5"}));
}

} // namespace
} // namespace kt::test

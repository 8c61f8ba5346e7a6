#include "ops_fixture.h"

#include <functional>

namespace kt::test
{
namespace
{

using Operation = std::function<ops::Result(ops::Context &)>;

const std::pair<const char *, Operation> kAllEight[] = {
    {"set reader ID", ops::setReaderId},
    {"set line settings", ops::setLineSettings},
    {"set output mode", ops::setOutputMode},
    {"factory W26", [](ops::Context &c) { return ops::applyPreset(c, ops::Preset::FactoryW26); }},
    {"W34", [](ops::Context &c) { return ops::applyPreset(c, ops::Preset::Wiegand34); }},
    {"W42", [](ops::Context &c) { return ops::applyPreset(c, ops::Preset::Wiegand42); }},
    {"RS485 W", [](ops::Context &c) { return ops::applyPreset(c, ops::Preset::RS485Wiegand); }},
    {"RS485 fast", [](ops::Context &c) { return ops::applyPreset(c, ops::Preset::RS485Fast); }},
};

// A rig whose scan has found the reader on port 3.
struct FoundRig : Rig {
    FoundRig(ReaderScript reader = ReaderModel{}.script())
    {
        state.readerFound = true;
        bank.addPort(3, std::move(reader));
    }
};

TEST(SetExchange, RefusesAllEightBeforeAScan)
{
    for (const auto &[name, operation] : kAllEight) {
        SCOPED_TRACE(name);
        Rig r;
        r.view.idPosition = 7;
        r.view.panels[Panel::ID] = "07";
        r.bank.addPort(3, ReaderModel{}.script());
        const auto selections = r.view.selections;
        const ops::Result result = operation(r.ctx);
        EXPECT_EQ(result.outcome, ops::Outcome::Refused);
        EXPECT_EQ(result.textId, text::ids::kTextStartScanReader);
        EXPECT_EQ(result.message, "Start Scan Reader!");
        EXPECT_EQ(r.view.events, (std::vector<std::string>{
                                     "cursor Hourglass", "enable window false", "lamp Comm Red",
                                     "text Msg Start Scan Reader!", "beep 300 300",
                                     "enable window true", "cursor Default"}));
        EXPECT_EQ(r.view.selections, selections); // the preparation has not run
        EXPECT_EQ(r.view.idPosition, 7);
    }
}

TEST(SetExchange, ParameterCommandsSendWhatTheControlsShow)
{
    struct Case {
        const char *name;
        Operation operation;
        std::map<List, int> selections;
        const char *pnID;
        const char *opening;
        const char *command;
        const char *ok;
    };
    const Case cases[] = {
        {"ID 07",
         ops::setReaderId,
         {},
         "07",
         "Set Reader ID = 07",
         "A00C1234567807",
         "Set Reader ID Ok"},
        {"line 0",
         ops::setLineSettings,
         {{List::BaudRate, 0}},
         "__",
         "Set Reader BaudRate = 4800,n,8,1",
         "A00E0",
         "Set Reader BaudRate Ok"},
        {"line 3",
         ops::setLineSettings,
         {{List::BaudRate, 3}},
         "__",
         "Set Reader BaudRate = 9600,e,8,1",
         "A00E3",
         "Set Reader BaudRate Ok"},
        {"line 10",
         ops::setLineSettings,
         {{List::BaudRate, 10}},
         "__",
         "Set Reader BaudRate = 115200,n,8,1",
         "A00EA",
         "Set Reader BaudRate Ok"},
        {"line 11",
         ops::setLineSettings,
         {{List::BaudRate, 11}},
         "__",
         "Set Reader BaudRate = 115200,e,8,1",
         "A00EB",
         "Set Reader BaudRate Ok"},
        {"RS485 shows the RS485 format",
         ops::setOutputMode,
         {{List::Mode, 1}, {List::Wiegand, 2}, {List::RS485, 0}},
         "__",
         "Set Reader Mode = RS485 24",
         "A00A120",
         "Set Reader Mode Ok"},
        {"Wiegand shows the Wiegand format",
         ops::setOutputMode,
         {{List::Mode, 0}, {List::Wiegand, 1}, {List::RS485, 2}},
         "__",
         "Set Reader Mode = Wiegand 34",
         "A00A012",
         "Set Reader Mode Ok"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FoundRig r;
        for (const auto &[list, index] : c.selections)
            r.view.selections[list] = index;
        r.view.panels[Panel::ID] = c.pnID;
        const ops::Result result = c.operation(r.ctx);

        EXPECT_TRUE(result.ok());
        EXPECT_EQ(result.message, c.ok);
        EXPECT_EQ(r.view.withoutWaiting(),
                  (std::vector<std::string>{
                      "cursor Hourglass", "enable window false",
                      std::string("text Msg ") + c.opening, "open 3 19200,e,8,1", "sleep 100",
                      "send 3 A00B", "sleep 100", std::string("send 3 ") + c.command, "close 3",
                      "lamp Comm Yellow", std::string("text Msg ") + c.ok, "beep 1000 300",
                      "enable window true", "cursor Default"}));
    }
}

TEST(SetExchange, TriesTwiceAndStartsEachTryWithItsOwnIdentity)
{
    struct Case {
        const char *name;
        std::vector<Answer> identity; // the identity replies, in turn
        bool setAnswers;              // whether the first set command is answered
        std::vector<std::string> sent;
        const char *outcome;
    };
    const Answer first = Answer::reply(identityBody("05", "AAAAAAAA"));
    const Answer second = Answer::reply(identityBody("05", "BBBBBBBB"));
    const Case cases[] = {
        {"identity silent, then answered",
         {Answer::silence(), second},
         true,
         {"A00B", "A00B", "A00CBBBBBBBB07"},
         "Set Reader ID Ok"},
        {"set command unanswered in the first try",
         {first, second},
         false,
         {"A00B", "A00CAAAAAAAA07", "A00B", "A00CBBBBBBBB07"},
         "Set Reader ID Ok"},
        {"15-byte identity replies",
         {Answer::reply("B05:1234567"), Answer::reply("B05:1234567")},
         true,
         {"A00B", "A00B"},
         "Set Reader ID Error"},
        {"17-byte identity replies",
         {Answer::reply("B05:123456789"), Answer::reply("B05:123456789")},
         true,
         {"A00B", "A00B"},
         "Set Reader ID Error"},
        // A zero byte in the serial number cuts the kept reply short: nothing is built from it.
        {"serial number cut short",
         {Answer::reply(std::string("B05:1234\0"
                                    "678",
                                    12)),
          second},
         true,
         {"A00B", "A00B", "A00CBBBBBBBB07"},
         "Set Reader ID Ok"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t identities = 0;
        bool setAnswered = c.setAnswers;
        FoundRig r([&](int, const std::string &, const std::string &cmd) {
            if (cmd == "A00B")
                return identities < c.identity.size() ? c.identity[identities++]
                                                      : Answer::silence();
            const bool answer = setAnswered;
            setAnswered = true;
            return answer ? Answer::reply("K") : Answer::silence();
        });
        r.view.panels[Panel::ID] = "07";
        const ops::Result result = ops::setReaderId(r.ctx);

        EXPECT_EQ(r.bank.commands, c.sent);
        const bool ok = std::string_view(c.outcome).ends_with("Ok");
        EXPECT_EQ(result.outcome, ok ? ops::Outcome::Ok : ops::Outcome::ReaderFailed);
        EXPECT_EQ(result.textId,
                  ok ? text::ids::kTextSetReaderIdOk : text::ids::kTextSetReaderIdError);
        EXPECT_EQ(r.view.starting("lamp"),
                  std::vector<std::string>{ok ? "lamp Comm Yellow" : "lamp Comm Red"});
        EXPECT_EQ(r.view.starting("beep").size(), 1u);
        EXPECT_EQ(r.view.panels[Panel::Msg], c.outcome);
    }
}

TEST(SetExchange, PortThatDoesNotOpenShowsTheErrorAtOnce)
{
    FoundRig r;
    r.bank.setBusy(3);
    const ops::Result result = ops::setOutputMode(r.ctx);
    EXPECT_EQ(result.outcome, ops::Outcome::PortNotOpened);
    EXPECT_EQ(result.textId, text::ids::kTextSetModeError);
    EXPECT_EQ(r.view.events,
              (std::vector<std::string>{"cursor Hourglass", "enable window false",
                                        "text Msg Set Reader Mode = Wiegand 26",
                                        "open 3 19200,e,8,1 failed", "lamp Comm Red",
                                        "text Msg Set Reader Mode Error", "beep 300 300",
                                        "enable window true", "cursor Default"}));
}

TEST(SetExchange, LineSettingsChangeIsKeptInMemoryOnlyOnSuccess)
{
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered);
        FoundRig r([&](int, const std::string &line, const std::string &cmd) {
            return cmd == "A00EB" && !answered ? Answer::silence()
                                               : ReaderModel{}.answer(line, cmd);
        });
        r.view.selections[List::BaudRate] = 11;
        ops::setLineSettings(r.ctx);
        EXPECT_EQ(r.settings.lineSettingsIndex, answered ? 11 : 5);
        EXPECT_EQ(r.settings.lineSettingsText, answered ? "115200,e,8,1" : "19200,e,8,1");
        EXPECT_EQ(r.view.count("save link"), 0);

        r.view.events.clear();
        r.view.panels[Panel::ID] = "07";
        ops::setReaderId(r.ctx);
        EXPECT_EQ(
            r.view.starting("open "),
            std::vector<std::string>{answered ? "open 3 115200,e,8,1" : "open 3 19200,e,8,1"});
    }
}

TEST(SetExchange, ControlsThatMakeNoCommandAreRefusedWithNothingSent)
{
    struct Case {
        const char *name;
        Operation operation;
        std::map<List, int> selections;
        const char *pnID;
        const char *error;
    };
    const Case cases[] = {
        {"pnID placeholder", ops::setReaderId, {}, "__", "Set Reader ID Error"},
        {"pnID one digit", ops::setReaderId, {}, "7", "Set Reader ID Error"},
        {"no line settings",
         ops::setLineSettings,
         {{List::BaudRate, -1}},
         "07",
         "Set Reader BaudRate Error"},
        {"no mode", ops::setOutputMode, {{List::Mode, -1}}, "07", "Set Reader Mode Error"},
        {"Wiegand mode, no RS485 format",
         ops::setOutputMode,
         {{List::RS485, -1}},
         "07",
         "Set Reader Mode Error"},
        {"RS485 mode, no Wiegand format",
         ops::setOutputMode,
         {{List::Mode, 1}, {List::Wiegand, -1}},
         "07",
         "Set Reader Mode Error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FoundRig r;
        for (const auto &[list, index] : c.selections)
            r.view.selections[list] = index;
        r.view.panels[Panel::ID] = c.pnID;
        const ops::Result result = c.operation(r.ctx);
        EXPECT_EQ(result.outcome, ops::Outcome::Refused);
        EXPECT_EQ(result.message, c.error);
        EXPECT_EQ(r.view.events, (std::vector<std::string>{
                                     "cursor Hourglass", "enable window false", "lamp Comm Red",
                                     std::string("text Msg ") + c.error, "beep 300 300",
                                     "enable window true", "cursor Default"}));
    }
    // Presets set every list before they build their commands.
    FoundRig r;
    r.view.selections = {
        {List::BaudRate, -1}, {List::Mode, -1}, {List::Wiegand, -1}, {List::RS485, -1}};
    ops::applyPreset(r.ctx, ops::Preset::Wiegand42);
    EXPECT_EQ(r.view.panels[Panel::Msg], "Set Default Wiegand 42 Ok");
}

TEST(Presets, SetTheListsAndSendIdModeAndLineSettings)
{
    struct Case {
        ops::Preset preset;
        std::map<List, int> lists;
        const char *opening;
        const char *mode;
        const char *line;
        const char *ok;
    };
    const Case cases[] = {
        {ops::Preset::FactoryW26,
         {{List::BaudRate, 5}, {List::Mode, 0}, {List::Wiegand, 0}, {List::RS485, 1}},
         "Set Default Wiegand 26",
         "A00A001",
         "A00E5",
         "Set Default Wiegand 26 Ok"},
        {ops::Preset::Wiegand34,
         {{List::BaudRate, 5}, {List::Mode, 0}, {List::Wiegand, 1}, {List::RS485, 1}},
         "Set Default Wiegand 34",
         "A00A011",
         "A00E5",
         "Set Default Wiegand 34 Ok"},
        {ops::Preset::Wiegand42,
         {{List::BaudRate, 5}, {List::Mode, 0}, {List::Wiegand, 2}, {List::RS485, 1}},
         "Set Default Wiegand 42",
         "A00A021",
         "A00E5",
         "Set Default Wiegand 42 Ok"},
        {ops::Preset::RS485Wiegand,
         {{List::BaudRate, 5}, {List::Mode, 1}, {List::Wiegand, 0}, {List::RS485, 0}},
         "Set Default RS485 24",
         "A00A100",
         "A00E5",
         "Set Default RS485 24 Ok"},
        {ops::Preset::RS485Fast,
         {{List::BaudRate, 11}, {List::Mode, 1}, {List::Wiegand, 0}, {List::RS485, 1}},
         "Set Default RS485 115200",
         "A00A101",
         "A00EB",
         "Set Default RS485 115200 Ok"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.opening);
        FoundRig r;
        r.view.selections = {
            {List::BaudRate, 2}, {List::Mode, 1}, {List::Wiegand, 2}, {List::RS485, 2}};
        r.view.idPosition = 42;
        r.view.panels[Panel::ID] = "42";
        ops::applyPreset(r.ctx, c.preset);

        const auto select = [&](List list, const char *name) {
            return std::string("select ") + name + " " + std::to_string(c.lists.at(list));
        };
        EXPECT_EQ(std::vector<std::string>(r.view.events.begin() + 2, r.view.events.begin() + 9),
                  (std::vector<std::string>{
                      "id 1", "text ID 01", select(List::BaudRate, "BaudRate"),
                      select(List::Mode, "Mode"), select(List::Wiegand, "Wiegand"),
                      select(List::RS485, "RS485"), std::string("text Msg ") + c.opening}));
        EXPECT_EQ(r.view.selections, c.lists);
        EXPECT_EQ(r.bank.commands,
                  (std::vector<std::string>{"A00B", "A00C1234567801", c.mode, c.line}));
        EXPECT_EQ(r.view.panels[Panel::Msg], c.ok);
        EXPECT_EQ(r.settings.lineSettingsText, "19200,e,8,1"); // a preset has no success action
        EXPECT_EQ(r.settings.lineSettingsIndex, 5);
    }
}

TEST(Presets, LineSettingsFailingInTheFirstTrySendsIdAndModeTwice)
{
    bool lineAnswered = false;
    FoundRig r([&](int, const std::string &line, const std::string &cmd) {
        if (cmd == "A00E5" && !lineAnswered) {
            lineAnswered = true;
            return Answer::silence();
        }
        return ReaderModel{}.answer(line, cmd);
    });
    ops::applyPreset(r.ctx, ops::Preset::FactoryW26);
    EXPECT_EQ(r.bank.commands,
              (std::vector<std::string>{"A00B", "A00C1234567801", "A00A001", "A00E5", "A00B",
                                        "A00C1234567801", "A00A001", "A00E5"}));
    EXPECT_EQ(r.view.starting("lamp"), std::vector<std::string>{"lamp Comm Yellow"});
    EXPECT_EQ(r.view.panels[Panel::Msg], "Set Default Wiegand 26 Ok");
}

TEST(Presets, IdAlreadyAtOneKeepsThePanel)
{
    FoundRig r;
    ops::applyPreset(r.ctx, ops::Preset::RS485Fast);
    EXPECT_EQ(r.view.panels[Panel::ID], "__");
    EXPECT_EQ(r.bank.commands[1], "A00C1234567801");
}

} // namespace
} // namespace kt::test

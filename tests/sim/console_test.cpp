#include "console.h"
#include "link/frame.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace
{

using namespace kt::sim;

TEST(Console, CommandsChangeTheReaderOrAreRefusedWithoutEffect)
{
    struct Case {
        const char *line;
        const char *answer; // the whole answer, or its beginning when it ends in '*'
        std::function<bool(const SimReader &)> holds;
    };
    auto noFault = [](const SimReader &r) {
        const Faults &f = r.faults();
        return !f.silent && f.delayMs == 0 && !f.badChecksum && !f.lowerChecksum && !f.strayByte
               && f.identityLength == 0 && !f.badFields && f.corruptPercent == 0;
    };
    auto noCard = [](const SimReader &r) { return !r.state().card; };
    const Case cases[] = {
        {"card 00bc614e", "ok card 00BC614E",
         [](const SimReader &r) { return r.state().card == "00BC614E"; }},
        {"card 12345", "error:*", noCard},
        {"card 0000ABCG", "error:*", noCard},
        {"card 00BC614E extra", "error:*", noCard},
        {"card", "error:*", noCard},
        {"nocard", "ok nocard", noCard},
        {"silent on", "ok silent on", [](const SimReader &r) { return r.faults().silent; }},
        {"silent maybe", "error:*", noFault},
        {"  badsum   on \r", "ok badsum on",
         [](const SimReader &r) { return r.faults().badChecksum; }},
        {"lowersum on", "ok lowersum on",
         [](const SimReader &r) { return r.faults().lowerChecksum; }},
        {"stray on", "ok stray on", [](const SimReader &r) { return r.faults().strayByte; }},
        {"badfields on", "ok badfields on",
         [](const SimReader &r) { return r.faults().badFields; }},
        {"delay 250", "ok delay 250", [](const SimReader &r) { return r.faults().delayMs == 250; }},
        {"delay -1", "error:*", noFault},
        {"delay 12ms", "error:*", noFault},
        {"delay 60001", "error:*", noFault},
        {"delay 99999999999999999999", "error:*", noFault},
        {"idlen 15", "ok idlen 15",
         [](const SimReader &r) { return r.faults().identityLength == 15; }},
        {"idlen 0", "ok idlen 0", noFault},
        {"idlen 3", "error:*", noFault},
        {"idlen 65", "error:*", noFault},
        {"corrupt 50", "ok corrupt 50",
         [](const SimReader &r) { return r.faults().corruptPercent == 50; }},
        {"corrupt 101", "error:*", noFault},
        {"state", "id 01 mode 001 line 5 (19200 baud) card none", noFault},
        {"bogus", "error:*", noFault},
        {"nocard now", "error:*", noFault},
        {"", "", noFault},
        {" \t ", "", noFault},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        SimReader reader;
        const auto result = runConsoleCommand(reader, c.line);
        const std::string_view expected = c.answer;
        if (expected.ends_with('*')) {
            EXPECT_TRUE(result.answer.starts_with(expected.substr(0, expected.size() - 1)))
                << result.answer;
        } else {
            EXPECT_EQ(result.answer, expected);
        }
        EXPECT_EQ(result.action, ConsoleAction::None);
        EXPECT_TRUE(c.holds(reader));
    }
}

TEST(Console, HangupAndQuitAreLeftToTheMainLoop)
{
    const struct {
        const char *line;
        ConsoleAction action;
    } cases[] = {
        {"hangup", ConsoleAction::Hangup},
        {"quit", ConsoleAction::Quit},
        {"quit now", ConsoleAction::None},
        {"help", ConsoleAction::None},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        SimReader reader;
        const auto result = runConsoleCommand(reader, c.line);
        EXPECT_EQ(result.action, c.action);
        EXPECT_FALSE(result.answer.empty());
    }
}

TEST(Console, StateShowsWhatSetCommandsChanged)
{
    SimReader reader;
    ASSERT_EQ(runConsoleCommand(reader, "card 0000abcd").answer, "ok card 0000ABCD");
    for (const char *command : {"A00C1234567842", "A00A120", "A00EA"}) {
        for (auto &reply : reader.receive(kt::link::commandFrame(command), 19200))
            reader.replySent(reply);
    }
    EXPECT_EQ(runConsoleCommand(reader, "state").answer,
              "id 42 mode 120 line 10 (115200 baud) card 0000ABCD");
}

} // namespace

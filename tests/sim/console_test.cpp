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
        {"keepid on", "ok keepid on", [](const SimReader &r) { return r.faults().keepId; }},
        {"unplug", "ok unplug", [](const SimReader &r) { return !r.isPlugged(); }},
        {"plug A\"B,C;1D 42 11", "ok plug A\"B,C;1D",
         [](const SimReader &r) {
             return r.state().serialNumber == "A\"B,C;1D" && r.state().readerId == 42;
         }},
        {"plug 8765432 7", "error:*", noFault},
        {"plug 87654321 0", "error:*", noFault},
        {"plug 87654321 7 12", "error:*", noFault},
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

TEST(Console, AReaderPluggedInAfterAnotherAnswersWithItsOwnIdentity)
{
    SimReader reader;
    const auto identity = [&] {
        std::string replies;
        for (auto &reply : reader.receive(kt::link::commandFrame("A00B"), 19200))
            replies += reply.bytes;
        return replies;
    };
    ASSERT_EQ(runConsoleCommand(reader, "silent on").answer, "ok silent on");
    ASSERT_EQ(runConsoleCommand(reader, "unplug").answer, "ok unplug");
    EXPECT_EQ(identity(), "");
    ASSERT_EQ(runConsoleCommand(reader, "plug 87654321 9 11").answer, "ok plug 87654321");
    EXPECT_EQ(identity(), "") << "heard at 19200 while it works at 115200";
    std::string replies;
    for (auto &reply : reader.receive(kt::link::commandFrame("A00B"), 115200))
        replies += reply.bytes;
    EXPECT_NE(replies.find("B09,87654321"), std::string::npos) << "the fault went with the old one";

    ASSERT_EQ(runConsoleCommand(reader, "keepid on").answer, "ok keepid on");
    for (auto &reply : reader.receive(kt::link::commandFrame("A00C8765432142"), 115200))
        EXPECT_NE(reply.bytes.find("OK"), std::string::npos);
    EXPECT_EQ(reader.state().readerId, 9);
}

} // namespace

#include "link/commands.h"
#include "link/frame.h"
#include "link/hex.h"
#include "sim_reader.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace
{

using namespace kt::sim;
using kt::link::checkFrame;
using kt::link::commandFrame;
using kt::link::decimalField;

constexpr int kDefaultBaud = 19200; // line-settings index 5

// The one reply to a command framed as the tool frames it, if the reader answers.
std::optional<Reply> ask(SimReader &reader, std::string_view command, int baud = kDefaultBaud)
{
    auto replies = reader.receive(commandFrame(command), baud);
    EXPECT_LE(replies.size(), 1u) << command;
    if (replies.empty())
        return std::nullopt;
    return replies.front();
}

std::string replyTo(SimReader &reader, std::string_view command)
{
    const auto reply = ask(reader, command);
    return reply ? reply->bytes : std::string();
}

ReaderState customState()
{
    ReaderState state;
    state.serialNumber = "KT000042";
    state.readerId = 7;
    state.version = "03.21-02";
    state.mode = "012";
    state.card = "00BC614E";
    return state;
}

TEST(SimReader, QueriesPutTheirFieldsWhereTheToolReadsThem)
{
    struct Case {
        const char *command;
        std::size_t length; // 0: any
        std::function<std::string_view(std::string_view)> field;
        std::string_view expected;
    };
    const Case cases[] = {
        {"A00B", 16, kt::link::readerIdField, "07"},
        {"A00B", 16, kt::link::serialNumberField, "KT000042"},
        {"A00V", 0, kt::link::versionField, "03.21-02"},
        {"A00A", 0, kt::link::outputModeField, "0"},
        {"A00A", 0, kt::link::wiegandFormatField, "1"},
        {"A00A", 0, kt::link::rs485FormatField, "2"},
        {"A00F", 17, kt::link::cardNumberField, "00BC614E"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        SimReader reader(customState());
        const std::string reply = replyTo(reader, c.command);
        ASSERT_TRUE(checkFrame(reply));
        EXPECT_EQ(reply.front(), '\n');
        EXPECT_EQ(reply.back(), '\r');
        if (c.length != 0) {
            EXPECT_EQ(reply.size(), c.length);
        }
        EXPECT_EQ(c.field(reply), c.expected);
    }
}

TEST(SimReader, CardQueryWithoutCardIsValidButCarriesNoNumber)
{
    SimReader reader;
    const std::string reply = replyTo(reader, "A00F");
    EXPECT_TRUE(checkFrame(reply));
    EXPECT_NE(reply.size(), static_cast<std::size_t>(kt::link::kCardReplyLength));

    ASSERT_TRUE(reader.presentCard("00bc614e"));
    const std::string card = replyTo(reader, "A00F");
    EXPECT_EQ(kt::link::hexToInt(kt::link::cardNumberField(card)), 12345678);

    reader.removeCard();
    EXPECT_EQ(replyTo(reader, "A00F"), reply);
    EXPECT_FALSE(reader.presentCard("00BC614")) << "seven characters";
    EXPECT_FALSE(reader.presentCard("00BC614G"));
    EXPECT_FALSE(reader.state().card);
}

TEST(SimReader, CardQuerySwitchesToRs485Output)
{
    SimReader reader(customState()); // Wiegand output
    ASSERT_EQ(kt::link::outputModeField(replyTo(reader, "A00A")), "0");
    replyTo(reader, "A00F");
    const std::string mode = replyTo(reader, "A00A");
    EXPECT_EQ(kt::link::outputModeField(mode), "1");
    EXPECT_EQ(kt::link::wiegandFormatField(mode), "1") << "the formats stay";
    EXPECT_EQ(kt::link::rs485FormatField(mode), "2");
}

TEST(SimReader, AnswersOnlyCompleteFramesWithRightChecksum)
{
    const std::string identity = commandFrame("A00B");
    struct Case {
        const char *name;
        std::string bytes;
        std::size_t replies;
    };
    const Case cases[] = {
        {"plain frame", identity, 1},
        {"wrong checksum", "\tA00B0B\r", 0},
        {"lower-case checksum", "\tA00V1e\r", 0},
        {"no CR yet", identity.substr(0, identity.size() - 1), 0},
        {"garbage before the TAB", "xy\n\r\x00\xFF" + identity, 1},
        {"unfinished frame dropped at the next TAB", "\tA00" + identity, 1},
        {"two frames at once", identity + commandFrame("A00V"), 2},
        {"long noise", std::string(2000, 'A') + identity, 1},
        {"overlong frame dropped", "\t" + std::string(300, 'A') + "\r" + identity, 1},
        {"a CR alone", "\r", 0},
        {"empty command", "\t09\r", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimReader reader;
        const auto replies = reader.receive(c.bytes, kDefaultBaud);
        ASSERT_EQ(replies.size(), c.replies);
        for (const auto &reply : replies)
            EXPECT_TRUE(checkFrame(reply.bytes));
    }
}

TEST(SimReader, FrameSplitAcrossReadsIsAnsweredOnce)
{
    SimReader reader;
    const std::string frame = commandFrame("A00V");
    for (std::size_t i = 0; i + 1 < frame.size(); ++i)
        EXPECT_TRUE(reader.receive(frame.substr(i, 1), kDefaultBaud).empty()) << i;
    EXPECT_EQ(reader.receive(frame.substr(frame.size() - 1), kDefaultBaud).size(), 1u);
}

TEST(SimReader, UnknownOrMalformedCommandsGetNoReplyAndChangeNothing)
{
    const char *commands[] = {
        "A00X",           "A00BX",          "A00",
        "B00B",           "a00b",           "A00F1",
        "A00A12",         "A00A1234",       "A00A200",
        "A00A030",        "A00A003",        "A00A1x1",
        "A00C12345678",   "A00C123456780",  "A00C8765432107",
        "A00C1234567800", "A00C123456780A", "A00C12345678 7",
        "A00E",           "A00EC",          "A00Ea",
        "A00E10",         "A00E-",
    };
    for (const char *command : commands) {
        SCOPED_TRACE(command);
        SimReader reader;
        EXPECT_FALSE(ask(reader, command));
        EXPECT_EQ(reader.state().readerId, 1);
        EXPECT_EQ(reader.state().mode, "001");
        EXPECT_EQ(reader.state().lineIndex, kDefaultLineIndex);
    }
}

TEST(SimReader, SetCommandsAreAcknowledgedAndApplied)
{
    struct Case {
        const char *command;
        int id;
        const char *mode;
    };
    const Case cases[] = {
        {"A00A121", 1, "121"},         {"A00A000", 1, "000"},        {"A00C1234567807", 7, "001"},
        {"A00C1234567899", 99, "001"}, {"A00C1234567801", 1, "001"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        SimReader reader;
        const auto reply = ask(reader, c.command);
        ASSERT_TRUE(reply);
        EXPECT_TRUE(checkFrame(reply->bytes));
        EXPECT_FALSE(reply->lineAfter);
        EXPECT_EQ(reader.state().readerId, c.id);
        EXPECT_EQ(reader.state().mode, c.mode);
        if (c.id != 1) {
            EXPECT_EQ(decimalField(kt::link::readerIdField(replyTo(reader, "A00B"))), c.id);
        }
    }
}

TEST(SimReader, NewLineSettingsTakeEffectOnlyOnceTheAcknowledgementIsSent)
{
    const struct {
        char index;
        int line;
        int baud;
    } cases[] = {
        {'0', 0, 4800}, {'3', 3, 9600}, {'9', 9, 57600}, {'A', 10, 115200}, {'B', 11, 115200}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.index);
        SimReader reader;
        const auto ack = ask(reader, std::string("A00E") + c.index);
        ASSERT_TRUE(ack);
        EXPECT_TRUE(checkFrame(ack->bytes));
        ASSERT_EQ(ack->lineAfter, c.line);

        // Still on the old line until the acknowledgement has gone out.
        EXPECT_EQ(reader.state().lineIndex, kDefaultLineIndex);
        EXPECT_TRUE(ask(reader, "A00B", kDefaultBaud));

        reader.replySent(*ack);
        EXPECT_EQ(reader.state().lineIndex, c.line);
        EXPECT_FALSE(ask(reader, "A00B", kDefaultBaud));
        EXPECT_TRUE(ask(reader, "A00B", c.baud));
    }
}

TEST(SimReader, FramesAtAnotherBaudRateAreNotHeard)
{
    for (int baud : {0, 4800, 9600, 38400, 57600, 115200}) {
        SCOPED_TRACE(baud);
        SimReader reader;
        EXPECT_FALSE(ask(reader, "A00B", baud));
        EXPECT_FALSE(ask(reader, "A00C1234567807", baud));
        EXPECT_EQ(reader.state().readerId, 1);
    }

    // A frame begun at the right rate does not go on with bytes heard at another.
    SimReader reader;
    const std::string frame = commandFrame("A00B");
    EXPECT_TRUE(reader.receive(frame.substr(0, 4), kDefaultBaud).empty());
    EXPECT_TRUE(reader.receive(frame.substr(4), 9600).empty());
    EXPECT_TRUE(reader.receive(frame.substr(4), kDefaultBaud).empty());
    EXPECT_TRUE(ask(reader, "A00B"));
}

TEST(SimReader, FaultsShapeTheReplies)
{
    SimReader clean;
    const std::string identity = replyTo(clean, "A00B");
    const std::string version = replyTo(clean, "A00V");
    // The lower-case fault shows only on a checksum with a letter in it.
    ASSERT_NE(identity.substr(identity.size() - 3, 2).find_first_of("ABCDEF"), std::string::npos);

    struct Case {
        const char *name;
        std::function<void(Faults &)> set;
        const char *command;
        std::function<void(const std::optional<Reply> &, const std::string &normal)> check;
    };
    const Case cases[] = {
        {"silent", [](Faults &f) { f.silent = true; }, "A00B",
         [](const auto &reply, const auto &) { EXPECT_FALSE(reply); }},
        {"delay", [](Faults &f) { f.delayMs = 250; }, "A00B",
         [](const auto &reply, const auto &normal) {
             ASSERT_TRUE(reply);
             EXPECT_EQ(reply->delayMs, 250u);
             EXPECT_EQ(reply->bytes, normal);
         }},
        {"bad checksum", [](Faults &f) { f.badChecksum = true; }, "A00B",
         [](const auto &reply, const auto &normal) {
             ASSERT_TRUE(reply);
             ASSERT_EQ(reply->bytes.size(), normal.size());
             EXPECT_FALSE(checkFrame(reply->bytes));
             EXPECT_EQ(reply->bytes.substr(0, 13), normal.substr(0, 13));
             for (std::size_t i : {13, 14})
                 EXPECT_NE(std::string_view("0123456789ABCDEF").find(reply->bytes[i]),
                           std::string_view::npos);
         }},
        {"lower-case checksum", [](Faults &f) { f.lowerChecksum = true; }, "A00B",
         [](const auto &reply, const auto &normal) {
             ASSERT_TRUE(reply);
             EXPECT_FALSE(checkFrame(reply->bytes));
             std::string upper = reply->bytes;
             for (char &c : upper)
                 c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
             EXPECT_EQ(upper, normal);
         }},
        {"stray byte", [](Faults &f) { f.strayByte = true; }, "A00B",
         [](const auto &reply, const auto &normal) {
             ASSERT_TRUE(reply);
             EXPECT_NE(reply->bytes.front(), '\n');
             EXPECT_EQ(reply->bytes.substr(1), normal);
         }},
        {"short identity", [](Faults &f) { f.identityLength = 15; }, "A00B",
         [](const auto &reply, const auto &) {
             ASSERT_TRUE(reply);
             EXPECT_EQ(reply->bytes.size(), 15u);
             EXPECT_TRUE(checkFrame(reply->bytes));
         }},
        {"long identity", [](Faults &f) { f.identityLength = 17; }, "A00B",
         [](const auto &reply, const auto &normal) {
             ASSERT_TRUE(reply);
             EXPECT_EQ(reply->bytes.size(), 17u);
             EXPECT_TRUE(checkFrame(reply->bytes));
             EXPECT_EQ(kt::link::serialNumberField(reply->bytes),
                       kt::link::serialNumberField(normal));
         }},
        {"bad ID field", [](Faults &f) { f.badFields = true; }, "A00B",
         [](const auto &reply, const auto &) {
             ASSERT_TRUE(reply);
             EXPECT_EQ(reply->bytes.size(), 16u);
             EXPECT_TRUE(checkFrame(reply->bytes));
             EXPECT_FALSE(decimalField(kt::link::readerIdField(reply->bytes)));
         }},
        {"bad mode fields", [](Faults &f) { f.badFields = true; }, "A00A",
         [](const auto &reply, const auto &) {
             ASSERT_TRUE(reply);
             EXPECT_TRUE(checkFrame(reply->bytes));
             EXPECT_FALSE(decimalField(kt::link::outputModeField(reply->bytes)));
             EXPECT_FALSE(decimalField(kt::link::wiegandFormatField(reply->bytes)));
             EXPECT_FALSE(decimalField(kt::link::rs485FormatField(reply->bytes)));
         }},
        {"identity length does not touch other replies", [](Faults &f) { f.identityLength = 15; },
         "A00V",
         [](const auto &reply, const auto &normal) {
             ASSERT_TRUE(reply);
             EXPECT_EQ(reply->bytes, normal);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimReader reader;
        c.set(reader.faults());
        const std::string normal = std::string_view(c.command) == "A00B" ? identity
                                   : std::string_view(c.command) == "A00V"
                                       ? version
                                       : replyTo(clean, c.command);
        c.check(ask(reader, c.command), normal);
    }
}

TEST(SimReader, SilentReaderChangesNothing)
{
    SimReader reader;
    reader.faults().silent = true;
    EXPECT_FALSE(ask(reader, "A00C1234567807"));
    EXPECT_FALSE(ask(reader, "A00A121"));
    EXPECT_FALSE(ask(reader, "A00EB"));
    EXPECT_EQ(reader.state().mode, "001");
    EXPECT_EQ(reader.state().readerId, 1);
    EXPECT_EQ(reader.state().lineIndex, kDefaultLineIndex);
}

TEST(SimReader, CorruptionDamagesTheAskedShareOfReplies)
{
    SimReader clean;
    const std::string normal = replyTo(clean, "A00B");
    for (int percent : {0, 30, 100}) {
        SCOPED_TRACE(percent);
        SimReader reader({}, 7);
        reader.faults().corruptPercent = percent;
        int damaged = 0;
        constexpr int kReplies = 1000;
        for (int i = 0; i < kReplies; ++i) {
            const auto replies = reader.receive(commandFrame("A00B"), kDefaultBaud);
            ASSERT_EQ(replies.size(), 1u);
            damaged += replies.front().bytes != normal ? 1 : 0;
        }
        const int expected = kReplies * percent / 100;
        EXPECT_NEAR(damaged, expected, kReplies / 10);
        if (percent == 100) {
            EXPECT_EQ(damaged, kReplies);
        }
    }
}

TEST(SimReader, DamagedRepliesAreAlwaysRejectedAndLeaveNothingBehind)
{
    for (const char *command : {"A00A", "A00B", "A00F", "A00CKT00004207"}) {
        SCOPED_TRACE(command);
        SimReader reader(customState(), 11);
        reader.faults().corruptPercent = 100;
        for (int i = 0; i < 2000; ++i) {
            const auto reply = ask(reader, command);
            ASSERT_TRUE(reply);
            const std::string &bytes = reply->bytes;
            // A CR before the end would end the frame early and leave the rest on the line.
            const auto cr = bytes.find('\r');
            ASSERT_TRUE(cr == std::string::npos || cr == bytes.size() - 1) << describeBytes(bytes);
            if (!bytes.empty() && bytes.front() == '\n' && cr != std::string::npos) {
                ASSERT_FALSE(checkFrame(bytes)) << describeBytes(bytes);
            }
        }
    }
}

TEST(SimReader, LogNotesFramesAndStateChanges)
{
    std::vector<std::string> notes;
    SimReader reader;
    reader.setNote([&](std::string_view line) { notes.emplace_back(line); });

    const auto ack = ask(reader, "A00EB");
    ASSERT_TRUE(ack);
    reader.replySent(*ack);
    ask(reader, "A00C1234567807", 115200);
    reader.receive("\tA00B0B\r", 115200);
    for (char c : commandFrame("A00B")) // one line for the frame, however it arrives
        reader.receive(std::string(1, c), 9600);

    const std::vector<std::string> expected = {
        "rx 09 41 30 30 45 42 34 46 0D |.A00EB4F.|",
        "line 11 (115200 baud)",
        "rx " + describeBytes(commandFrame("A00C1234567807")),
        "id 07",
        "rx 09 41 30 30 42 30 42 0D |.A00B0B.| ignored: bad checksum",
        "rx 09 41 30 30 42 30 41 0D |.A00B0A.| ignored: line at 9600 baud, reader at 115200",
    };
    EXPECT_EQ(notes, expected);
}

} // namespace

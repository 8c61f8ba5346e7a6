#include "fake_clock.h"
#include "fake_device.h"
#include "fake_wait.h"
#include "link/frame.h"
#include "link/log.h"
#include "link/reader_link.h"

#include <gtest/gtest.h>
#include <string>

using namespace kt::link;
using kt::test::FakeClock;
using kt::test::FakeDevice;
using kt::test::FakeWait;

namespace
{
// Sending a frame sleeps 1 + 5 + 1 + 1 + 1 ms before the reply window opens.
constexpr std::uint32_t kFramePacingMs = 9;

// How the link waits for a reply: asleep on the port's descriptor; by 1 ms reads with the
// window's events handled after each (a port without a descriptor, as on Windows); or by
// 1 ms reads alone (no wait given). Every rule of the reply window holds for all three.
enum class Waiting { Asleep, ByReads, NoWait };

std::string nameOf(const testing::TestParamInfo<Waiting> &info)
{
    constexpr const char *names[] = {"Asleep", "ByReads", "NoWait"};
    return names[static_cast<int>(info.param)];
}

// One link on a fake port and clock, waiting as asked.
struct Line {
    Line(Waiting waiting, std::uint32_t startMs = 1000)
        : clock(startMs)
    {
        device.setHasDescriptor(waiting == Waiting::Asleep);
        wait.watchPort([this] { return device.readyAt(); });
        link.setEventWait(waiting == Waiting::NoWait ? nullptr : &wait);
    }

    FakeClock clock;
    FakeDevice device{clock};
    FakeWait wait{clock};
    ReaderLink link{device, clock};
};

class TransactTest : public testing::TestWithParam<Waiting>
{
protected:
    void SetUp() override { ASSERT_TRUE(link.openPort(3, "19200,e,8,1")); }

    // The fake time at which the next transaction's reply window will open.
    std::uint32_t windowStart() { return clock.nowMs() + kFramePacingMs; }
    std::uint32_t sinceStart(std::uint32_t start) { return clock.nowMs() - start; }

    Line line{GetParam()};
    FakeClock &clock = line.clock;
    FakeDevice &device = line.device;
    FakeWait &wait = line.wait;
    ReaderLink &link = line.link;
};

INSTANTIATE_TEST_SUITE_P(Waits, TransactTest,
                         testing::Values(Waiting::Asleep, Waiting::ByReads, Waiting::NoWait),
                         nameOf);

const std::string kPrevious = replyFrame("previous");
} // namespace

TEST_P(TransactTest, SendsTheFrameInFiveWritesWithTheirPauses)
{
    const std::uint32_t t0 = clock.nowMs();
    EXPECT_FALSE(link.transact("A00B"));

    EXPECT_EQ(device.written(), std::string("\x09\x41\x30\x30\x42\x30\x41\x0D"));
    const std::vector<FakeDevice::Write> expected = {
        {t0, "\t"}, {t0 + 1, "A00B"}, {t0 + 6, "0"}, {t0 + 7, "A"}, {t0 + 8, "\r"}};
    ASSERT_EQ(device.writes().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(device.writes()[i].atMs, expected[i].atMs);
        EXPECT_EQ(device.writes()[i].bytes, expected[i].bytes);
    }
}

TEST_P(TransactTest, WritesKnownChecksums)
{
    const struct {
        const char *command;
        const char *checksum;
    } cases[] = {{"A00B", "0A"},  {"A00V", "1E"},  {"A00A", "09"},   {"A00F", "0E"},
                 {"A00E5", "38"}, {"A00EB", "4F"}, {"A00A001", "38"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        const std::size_t before = device.written().size();
        device.inputIn("\n0A\r", kFramePacingMs);
        EXPECT_TRUE(link.transact(c.command));
        const std::string expected = std::string("\t") + c.command + c.checksum + "\r";
        EXPECT_EQ(device.written().substr(before), expected);
        EXPECT_EQ(commandFrame(c.command), expected);
    }
}

TEST_P(TransactTest, PacesSingleBytesAndBlocks)
{
    const std::uint8_t block[] = {1, 2, 3};
    const std::uint32_t t0 = clock.nowMs();
    link.writeByte(0x41);
    link.writeBlock(block);
    link.writeBlock({});
    EXPECT_EQ(device.written(), std::string("A\x01\x02\x03"));
    EXPECT_EQ(device.writes().size(), 2u); // the empty block writes nothing
    EXPECT_EQ(clock.nowMs() - t0, 11u);
    if (GetParam() == Waiting::NoWait) {
        EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{1, 5, 5}));
        return;
    }
    // A block's 5 ms pass in the wait, with the events handled; a byte's 1 ms is slept.
    EXPECT_EQ(clock.sleeps(), std::vector<std::uint32_t>{1});

    // A stop asked for during a block's pause does not shorten it: the reader still needs it.
    Line stopLine(GetParam());
    ASSERT_TRUE(stopLine.link.openPort(3, "19200,e,8,1"));
    stopLine.wait.pauseStepMs = 2; // the stop's signal cuts the wait short
    stopLine.wait.onPacing = [&stopLine] { stopLine.wait.stop = true; };
    const std::uint32_t t1 = stopLine.clock.nowMs();
    stopLine.link.writeBlock(block);
    EXPECT_GE(stopLine.clock.nowMs() - t1, kBlockPauseMs);
    EXPECT_LE(stopLine.clock.nowMs() - t1, kBlockPauseMs + 1);
}

TEST_P(TransactTest, PausesForTheWholeTimeAcrossTheClockWrap)
{
    for (const std::uint32_t t0 : {1000u, 0xFFFFFFFFu - 40}) {
        SCOPED_TRACE(t0);
        Line pauseLine(GetParam(), t0);
        pauseLine.wait.pauseStepMs = 30; // every wait is cut short
        pauseLine.link.pause(100);
        EXPECT_EQ(pauseLine.clock.nowMs() - t0, 100u);
        if (GetParam() == Waiting::NoWait) {
            EXPECT_EQ(pauseLine.clock.sleeps(), std::vector<std::uint32_t>{100});
        } else {
            EXPECT_EQ(pauseLine.wait.pauses, 4); // 100, then the 70, 40 and 10 left
        }
    }
}

TEST_P(TransactTest, JudgesTheReplyFrame)
{
    std::string zeroInside = replyFrame(std::string("AB\0CD", 5));
    const struct {
        const char *name;
        std::string input;
        std::uint32_t delayMs; // after the window opens
        bool ok;
        std::string lastReply;
        int replyLength;
    } cases[] = {
        {"empty body", "\n0A\r", 0, true, "\n0A\r", 4},
        {"identity reply", replyFrame("x05x12345678"), 30, true, replyFrame("x05x12345678"), 16},
        {"checksum with a letter",
         "\n\x05"
         "0F\r",
         0, true,
         "\n\x05"
         "0F\r",
         5},
        {"the same in lower case",
         "\n\x05"
         "0f\r",
         0, false,
         "\n\x05"
         "0f\r",
         5},
        {"empty body in lower case", "\n0a\r", 0, false, "\n0a\r", 4},
        {"wrong checksum", "\n0B\r", 0, false, "\n0B\r", 4},
        {"stray leading byte", "X\n0A\r", 0, false, kPrevious, 5},
        {"too short for a checksum", "\n\r", 0, false, "\n\r", 2},
        {"three bytes", "\nA\r", 0, false, "\nA\r", 3},
        {"zero byte inside", zeroInside, 0, true, "\nAB", 9},
        {"last moment of the window", "\n0A\r", 120, true, "\n0A\r", 4},
        {"just too late", "\n0A\r", 121, false, kPrevious, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Line caseLine(GetParam());
        FakeDevice &caseDevice = caseLine.device;
        ReaderLink &caseLink = caseLine.link;
        ASSERT_TRUE(caseLink.openPort(1, "9600,n,8,1"));
        caseDevice.inputIn(kPrevious, kFramePacingMs);
        ASSERT_TRUE(caseLink.transact("A00B"));

        caseDevice.inputIn(c.input, kFramePacingMs + c.delayMs);
        EXPECT_EQ(caseLink.transact("A00B"), c.ok);
        EXPECT_EQ(caseLink.lastReply(), c.lastReply);
        EXPECT_EQ(caseLink.replyLength(), c.replyLength);
    }
}

TEST_P(TransactTest, TimesOutKeepingLastReplyAndHandlingEvents)
{
    device.inputIn(kPrevious, kFramePacingMs);
    ASSERT_TRUE(link.transact("A00B"));
    wait.portWaits = 0;
    wait.portWaitMs.clear();

    const std::uint32_t start = windowStart();
    EXPECT_FALSE(link.transact("A00V"));
    EXPECT_EQ(link.lastReply(), kPrevious);
    EXPECT_GT(sinceStart(start), kReplyWindowMs);
    EXPECT_LE(sinceStart(start), kReplyWindowMs + 2);
    switch (GetParam()) {
    case Waiting::Asleep: // one sleep, from the first empty read to the window's end
        EXPECT_EQ(wait.portWaitMs, std::vector<std::uint32_t>{kReplyWindowMs});
        EXPECT_EQ(device.emptyReads(), 1);
        break;
    case Waiting::ByReads: // one pass over the events per empty read
        EXPECT_EQ(wait.portWaits, static_cast<int>(sinceStart(start)));
        EXPECT_EQ(wait.portWaitMs, std::vector<std::uint32_t>(wait.portWaitMs.size(), 0));
        break;
    case Waiting::NoWait:
        EXPECT_EQ(wait.portWaits, 0);
        break;
    }
}

TEST_P(TransactTest, WakesForEachByteOfASlowReply)
{
    // A frame whose bytes come 10 ms apart: the wait ends at each byte, and the frame is
    // complete at the moment its CR comes.
    const std::string reply = "\n0A\r";
    const std::uint32_t start = windowStart();
    for (std::size_t i = 0; i < reply.size(); ++i)
        device.input(reply.substr(i, 1), start + 10 + 10 * static_cast<std::uint32_t>(i));
    EXPECT_TRUE(link.transact("A00B"));
    EXPECT_EQ(sinceStart(start), 40u);
    if (GetParam() == Waiting::Asleep) {
        EXPECT_LE(wait.portWaits, 8);
    }
}

TEST_P(TransactTest, ReadsAStreamPastTheWindowToItsCr)
{
    const std::string reply = replyFrame(std::string(80, 'D'));
    device.setByteTimeMs(2); // a slow line: the frame alone takes 168 ms
    const std::uint32_t start = windowStart();
    device.input(reply, start + 100);
    EXPECT_TRUE(link.transact("A00V"));
    EXPECT_EQ(link.lastReply(), reply);
    EXPECT_GT(sinceStart(start), kReplyWindowMs + 100);
}

TEST_P(TransactTest, CutsOffAStreamThatNeverEndsOnceTheBufferCouldHaveFilled)
{
    // 1024 characters at the line's speed, rounded up to the millisecond, then the window.
    const struct {
        const char *lineSettings;
        std::uint32_t limitMs;
    } cases[] = {
        {"115200,n,8,1", 89 + kReplyWindowMs}, // 10 bits a character
        {"19200,e,8,1", 587 + kReplyWindowMs}, // 11
        {"4800,o,7,2", 2347 + kReplyWindowMs}, // 11
        {"9600", 1280 + kReplyWindowMs},       // the fields left out count at their longest: 12
        {"fast", 2560 + kReplyWindowMs},       // no known speed: 4800 baud, 12 bits
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lineSettings);
        Line flood(GetParam());
        ASSERT_TRUE(flood.link.openPort(3, c.lineSettings));
        flood.device.setByteTimeMs(1);
        const std::uint32_t start = flood.clock.nowMs() + kFramePacingMs;
        flood.device.input(std::string(100000, 'X'), start);
        EXPECT_FALSE(flood.link.transact("A00B"));
        EXPECT_EQ(flood.clock.nowMs() - start, c.limitMs);
        EXPECT_GT(flood.device.pendingInput(), 0u);
        EXPECT_TRUE(flood.link.lastReply().empty());
    }
}

TEST_P(TransactTest, HandlesTheEventsAtLeastEvery10MsWhileAStreamNeverEnds)
{
    if (GetParam() == Waiting::NoWait)
        GTEST_SKIP() << "without a wait there are no events to handle";
    device.setByteTimeMs(1);
    device.inputIn(std::string(100000, 'X'), kFramePacingMs);
    std::vector<std::uint32_t> handled{clock.nowMs()};
    wait.onPortWait = [&] { handled.push_back(clock.nowMs()); };
    wait.onPacing = wait.onPortWait; // the frame's block pause handles them too
    EXPECT_FALSE(link.transact("A00B"));
    handled.push_back(clock.nowMs());
    for (std::size_t i = 1; i < handled.size(); ++i)
        ASSERT_LE(handled[i] - handled[i - 1], 10u) << "after the wait at " << handled[i - 1];
}

TEST_P(TransactTest, AStopAskedForByTheWaitEndsTheExchangeAndSendsNothingMore)
{
    if (GetParam() == Waiting::NoWait)
        GTEST_SKIP() << "without a wait nothing asks for a stop";
    device.setByteTimeMs(1);
    device.inputIn(std::string(100000, 'X'), kFramePacingMs);
    const std::uint32_t start = windowStart();
    wait.onPortWait = [&] { wait.stop = wait.stop || sinceStart(start) >= 50; };
    EXPECT_FALSE(link.transact("A00B"));
    EXPECT_LE(sinceStart(start), 50u + 10u);

    const std::size_t written = device.writes().size();
    const std::uint32_t stoppedAt = clock.nowMs();
    EXPECT_FALSE(link.transact("A00B"));
    link.pause(1000);
    EXPECT_EQ(device.writes().size(), written);
    EXPECT_EQ(clock.nowMs(), stoppedAt);
}

TEST_P(TransactTest, WrapsTheBufferAt1024Bytes)
{
    // After 1024 stray bytes an LF lands at position 0 again and starts a frame; the
    // stale bytes behind it must not leak into LastReply.
    device.inputIn(std::string(kReceiveBufferSize, 'X') + "\n0A\r", kFramePacingMs);
    EXPECT_TRUE(link.transact("A00B"));
    EXPECT_EQ(link.lastReply(), "\n0A\r");
    EXPECT_EQ(link.replyLength(), 4);

    // A CR stored as the 1024th byte wraps the count to 0: no room for a checksum.
    device.inputIn("\n" + std::string(kReceiveBufferSize - 2, 'X') + "\r", kFramePacingMs);
    EXPECT_FALSE(link.transact("A00B"));
    EXPECT_EQ(link.lastReply(), "");
    EXPECT_EQ(link.replyLength(), 0);
}

TEST_P(TransactTest, EndsTheWaitAfterTheWindowAcrossTheClockWrap)
{
    const std::uint32_t starts[] = {0xFFFFFFFFu - 20, 0xFFFFFFFFu - 130, 0xFFFFFFFFu - 8,
                                    0x7FFFFFFFu - 20, 0x7FFFFFFFu - 130, 0xFFFFFFFFu};
    for (auto t0 : starts) {
        SCOPED_TRACE(t0);
        Line wrapLine(GetParam(), t0);
        ASSERT_TRUE(wrapLine.link.openPort(1, "9600,n,8,1"));

        const std::uint32_t start = t0 + kFramePacingMs;
        EXPECT_FALSE(wrapLine.link.transact("A00B"));
        EXPECT_GT(wrapLine.clock.nowMs() - start, kReplyWindowMs);
        EXPECT_LE(wrapLine.clock.nowMs() - start, kReplyWindowMs + 2);

        wrapLine.device.input("\n0A\r", wrapLine.clock.nowMs() + kFramePacingMs + 110);
        EXPECT_TRUE(wrapLine.link.transact("A00B"));
    }
}

TEST_P(TransactTest, ALateReplyIsDroppedAndOnlyWhatComesOnceTheFrameStartsIsTaken)
{
    const std::string late = replyFrame("x05x12345678");
    device.input(late, windowStart() + 200);
    EXPECT_FALSE(link.transact("A00B"));
    clock.advance(100);
    EXPECT_FALSE(link.transact("A00B")) << "the late reply to the previous command was taken";
    EXPECT_EQ(device.pendingInput(), 0u);

    // Input is dropped once, before the frame: a reply that starts while its last bytes go
    // out is this command's.
    const std::string own = replyFrame("B07,12345678");
    device.input(own, clock.nowMs() + 1);
    EXPECT_TRUE(link.transact("A00B"));
    EXPECT_EQ(link.lastReply(), own);
}

TEST_P(TransactTest, FailsAtOnceOnHangUp)
{
    const std::uint32_t start = windowStart();
    device.input("\n0", start + 5);
    device.hangUpAt(start + 10);
    EXPECT_FALSE(link.transact("A00B"));
    EXPECT_LE(sinceStart(start), 11u);
    EXPECT_LE(wait.portWaits, GetParam() == Waiting::Asleep ? 3 : 11);
}

TEST_P(TransactTest, RefusesWhatCannotBeFramed)
{
    const struct {
        const char *name;
        std::string command;
    } cases[] = {{"empty", ""}, {"256 bytes", std::string(256, 'A')}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(link.transact(c.command));
        EXPECT_TRUE(device.writes().empty());
    }

    device.inputIn("\n0A\r", kFramePacingMs);
    EXPECT_TRUE(link.transact(std::string(255, 'A')));
    ASSERT_EQ(device.writes().size(), 5u);
    EXPECT_EQ(device.writes()[1].bytes.size(), 255u);

    link.closePort();
    const std::size_t writes = device.writes().size();
    EXPECT_FALSE(link.transact("A00B"));
    EXPECT_EQ(device.writes().size(), writes);
}

TEST_P(TransactTest, RefusesATransactionFromItsOwnEventHandling)
{
    bool nestedResult = false;
    bool nestedTried = false;
    wait.onPortWait = [&] {
        if (!nestedTried) {
            nestedTried = true;
            nestedResult = link.transact("A00V");
        }
    };
    device.inputIn("\n0A\r", kFramePacingMs + 5);
    EXPECT_TRUE(link.transact("A00B"));
    EXPECT_EQ(nestedTried, GetParam() != Waiting::NoWait); // no events without a wait
    EXPECT_FALSE(nestedResult);
    EXPECT_EQ(device.written(), commandFrame("A00B")); // the nested one sent nothing
    EXPECT_EQ(link.lastReply(), "\n0A\r");
}

namespace
{
std::string g_messages;
void collect(const kt::log::Category &category, kt::log::Level, std::string_view message)
{
    if (std::string_view(category.name) == "kt4500.link")
        g_messages.append(message).append("\n");
}
} // namespace

TEST_P(TransactTest, TracesFramesInHexWhenDebugIsOn)
{
    kt::log::setDebugEnabled(lcLink, true);
    g_messages.clear();
    const auto previous = kt::log::setSink(collect);
    device.inputIn("\n0A\r", kFramePacingMs);
    EXPECT_TRUE(link.transact("A00B"));
    kt::log::setSink(previous);
    kt::log::setDebugEnabled(lcLink, false);

    EXPECT_NE(g_messages.find("tx 09 41 30 30 42 30 41 0D"), std::string::npos) << g_messages;
    EXPECT_NE(g_messages.find("rx 0A 30 41 0D"), std::string::npos) << g_messages;
}

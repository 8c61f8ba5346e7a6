#include "fake_clock.h"
#include "fake_device.h"
#include "link/frame.h"
#include "link/log.h"
#include "link/reader_link.h"

#include <gtest/gtest.h>
#include <string>

using namespace kt::link;
using kt::test::FakeClock;
using kt::test::FakeDevice;

namespace
{
// Sending a frame sleeps 1 + 5 + 1 + 1 + 1 ms before the reply window opens.
constexpr std::uint32_t kFramePacingMs = 9;

class TransactTest : public testing::Test
{
protected:
    explicit TransactTest(std::uint32_t startMs = 1000)
        : clock(startMs)
    {
    }

    void SetUp() override { ASSERT_TRUE(link.openPort(3, "19200,e,8,1")); }

    // The fake time at which the next transaction's reply window will open.
    std::uint32_t windowStart() { return clock.nowMs() + kFramePacingMs; }
    std::uint32_t sinceStart(std::uint32_t start) { return clock.nowMs() - start; }

    FakeClock clock;
    FakeDevice device{clock};
    int pumps = 0;
    ReaderLink link{device, clock, [this] { ++pumps; }};
};

const std::string kPrevious = replyFrame("previous");
} // namespace

TEST_F(TransactTest, SendsTheFrameInFiveWritesWithTheirPauses)
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

TEST_F(TransactTest, WritesKnownChecksums)
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

TEST_F(TransactTest, PacesSingleBytesAndBlocks)
{
    const std::uint8_t block[] = {1, 2, 3};
    link.writeByte(0x41);
    link.writeBlock(block);
    link.writeBlock({});
    EXPECT_EQ(device.written(), std::string("A\x01\x02\x03"));
    EXPECT_EQ(device.writes().size(), 2u); // the empty block writes nothing
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{1, 5, 5}));
}

TEST_F(TransactTest, JudgesTheReplyFrame)
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
        FakeClock caseClock;
        FakeDevice caseDevice(caseClock);
        ReaderLink caseLink(caseDevice, caseClock);
        ASSERT_TRUE(caseLink.openPort(1, "9600,n,8,1"));
        caseDevice.inputIn(kPrevious, kFramePacingMs);
        ASSERT_TRUE(caseLink.transact("A00B"));

        caseDevice.inputIn(c.input, kFramePacingMs + c.delayMs);
        EXPECT_EQ(caseLink.transact("A00B"), c.ok);
        EXPECT_EQ(caseLink.lastReply(), c.lastReply);
        EXPECT_EQ(caseLink.replyLength(), c.replyLength);
    }
}

TEST_F(TransactTest, TimesOutKeepingLastReplyAndPumpingEvents)
{
    device.inputIn(kPrevious, kFramePacingMs);
    ASSERT_TRUE(link.transact("A00B"));
    pumps = 0;

    const std::uint32_t start = windowStart();
    EXPECT_FALSE(link.transact("A00V"));
    EXPECT_EQ(link.lastReply(), kPrevious);
    EXPECT_GT(sinceStart(start), kReplyWindowMs);
    EXPECT_LE(sinceStart(start), kReplyWindowMs + 2);
    EXPECT_EQ(pumps, static_cast<int>(sinceStart(start))); // once per empty read
}

TEST_F(TransactTest, ReadsAStreamPastTheWindowToItsCr)
{
    const std::string reply = replyFrame(std::string(80, 'D'));
    device.setByteTimeMs(2); // a slow line: the frame alone takes 168 ms
    const std::uint32_t start = windowStart();
    device.input(reply, start + 100);
    EXPECT_TRUE(link.transact("A00V"));
    EXPECT_EQ(link.lastReply(), reply);
    EXPECT_GT(sinceStart(start), kReplyWindowMs + 100);
}

TEST_F(TransactTest, CutsOffAStreamThatNeverEnds)
{
    device.setByteTimeMs(1);
    device.inputIn(std::string(100000, 'X'), kFramePacingMs);
    EXPECT_FALSE(link.transact("A00B"));
    EXPECT_GT(device.pendingInput(), 0u);
    EXPECT_TRUE(link.lastReply().empty());
}

TEST_F(TransactTest, WrapsTheBufferAt1024Bytes)
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

TEST(TransactClockWrap, EndsTheWaitAfterTheWindow)
{
    const std::uint32_t starts[] = {0xFFFFFFFFu - 20, 0xFFFFFFFFu - 130, 0xFFFFFFFFu - 8,
                                    0x7FFFFFFFu - 20, 0x7FFFFFFFu - 130, 0xFFFFFFFFu};
    for (auto t0 : starts) {
        SCOPED_TRACE(t0);
        FakeClock clock(t0);
        FakeDevice device(clock);
        ReaderLink link(device, clock);
        ASSERT_TRUE(link.openPort(1, "9600,n,8,1"));

        const std::uint32_t start = t0 + kFramePacingMs;
        EXPECT_FALSE(link.transact("A00B"));
        EXPECT_GT(clock.nowMs() - start, kReplyWindowMs);
        EXPECT_LE(clock.nowMs() - start, kReplyWindowMs + 2);

        device.input("\n0A\r", clock.nowMs() + kFramePacingMs + 110);
        EXPECT_TRUE(link.transact("A00B"));
    }
}

TEST_F(TransactTest, ALateReplyIsDroppedAndOnlyWhatComesOnceTheFrameStartsIsTaken)
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

TEST_F(TransactTest, FailsAtOnceOnHangUp)
{
    const std::uint32_t start = windowStart();
    device.input("\n0", start + 5);
    device.hangUpAt(start + 10);
    EXPECT_FALSE(link.transact("A00B"));
    EXPECT_LE(sinceStart(start), 11u);
    EXPECT_LE(pumps, 11);
}

TEST_F(TransactTest, RefusesWhatCannotBeFramed)
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

TEST_F(TransactTest, RefusesATransactionFromItsOwnEventPump)
{
    bool nestedResult = true;
    bool nestedTried = false;
    link.setPumpEvents([&] {
        if (!nestedTried) {
            nestedTried = true;
            nestedResult = link.transact("A00V");
        }
    });
    device.inputIn("\n0A\r", kFramePacingMs + 5);
    EXPECT_TRUE(link.transact("A00B"));
    EXPECT_TRUE(nestedTried);
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

TEST_F(TransactTest, TracesFramesInHexWhenDebugIsOn)
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

#include "ops_fixture.h"

#include <deque>

namespace kt::test
{
namespace
{

const char *const kCaption = "Read Card (Change to RS485 Mode)";
const std::vector<std::string> kControls = {"Exit", "Scan",         "FactoryW26", "ID", "BaudRate",
                                            "Mode", "QuickSetting", "Eng",        "GB", "BIG5"};

std::vector<std::string> controlEvents(bool enabled)
{
    std::vector<std::string> events;
    for (const std::string &c : kControls)
        events.push_back("control " + c + (enabled ? " true" : " false"));
    return events;
}

// A reader on port 3 that a scan has found. Its card replies come from polls, in turn; when
// they run out it answers with `then`. onPoll runs as each poll arrives (1-based).
struct CardRig : Rig {
    std::deque<Answer> polls;
    Answer then = Answer::silence();
    std::function<void(int)> onPoll;
    int pollCount = 0;
    std::vector<ops::Card> cards;     // as the loop reported them
    std::vector<ops::Result> results; // of every click, in the order they returned

    CardRig()
    {
        state.readerFound = true;
        ctx.cardShown = [this](const ops::Card &card) { cards.push_back(card); };
        view.panels[Panel::Msg] = "Get Reader Info Ok. (COM : #3)";
        bank.addPort(3, [this](int, const std::string &, const std::string &cmd) {
            EXPECT_EQ(cmd, "A00F");
            ++pollCount;
            if (onPoll)
                onPoll(pollCount);
            if (polls.empty())
                return then;
            Answer a = polls.front();
            polls.pop_front();
            return a;
        });
    }
    void click() { results.push_back(ops::readCardClick(ctx)); }
};

TEST(CardLoop, RefusesBeforeAScan)
{
    CardRig r;
    r.state.readerFound = false;
    r.click();
    EXPECT_EQ(r.view.events,
              (std::vector<std::string>{"text Msg Start Scan Reader!", "beep 300 300"}));
    EXPECT_EQ(r.results.back().outcome, ops::Outcome::Refused);
    EXPECT_EQ(r.results.back().textId, text::ids::kTextStartScanReader);
}

TEST(CardLoop, ShowsEachCardInDecimalAndHex)
{
    const std::pair<const char *, const char *> cases[] = {
        {"00BC614E", "Card ID : 0012345678  00BC614E(H)"},
        {"0000ABCD", "Card ID : 0000043981  0000ABCD(H)"},
        {"FFFFFFFF", "Card ID : -000000001  FFFFFFFF(H)"},
        {"80000000", "Card ID : -2147483648  80000000(H)"},
        {"7FFFFFFF", "Card ID : 2147483647  7FFFFFFF(H)"},
    };
    for (const auto &[hex, shown] : cases) {
        SCOPED_TRACE(hex);
        CardRig r;
        r.polls = {Answer::reply(cardBody(hex))};
        r.click();
        EXPECT_TRUE(r.view.inOrder({"send 3 A00F", std::string("text CardID ") + shown,
                                    "lamp Card Yellow", "card timer", "send 3 A00F"}))
            << r.view.dump();
        EXPECT_EQ(r.view.panels[Panel::CardID], "Card ID"); // not kept once the loop ends
        ASSERT_EQ(r.cards.size(), 1u);
        EXPECT_EQ(r.cards[0].number, hex);
        EXPECT_EQ(r.cards[0].shown, shown);
    }
}

TEST(CardLoop, IgnoresRepliesOfAnotherLength)
{
    CardRig r;
    r.polls = {Answer::reply("F00001234567"), Answer::reply("F0000123456789")}; // 16, 18
    r.click();
    EXPECT_EQ(r.pollCount, 3);
    EXPECT_TRUE(r.view.starting("text CardID Card ID :").empty());
    EXPECT_EQ(r.view.count("lamp Card Yellow"), 0);
    EXPECT_EQ(r.view.panels[Panel::Msg], "Reader Not Find");
}

TEST(CardLoop, FailedPollEndsTheLoopAndRestoresTheWindow)
{
    for (const Answer &failure : {Answer::silence(), Answer::hangUp()}) {
        SCOPED_TRACE(failure.kind == Answer::Kind::HangUp ? "hang-up" : "silence");
        CardRig r;
        r.then = failure;
        r.click();

        std::vector<std::string> expected = {"caption Cancel Read Card"};
        for (const std::string &e : controlEvents(false))
            expected.push_back(e);
        for (const char *e : {"open 3 19200,e,8,1", "busy on", "enable window true", "send 3 A00F",
                              "busy off", "lamp Comm Red", "text Msg Reader Not Find",
                              "beep 300 300", "lamp Card White", "close 3", "text CardID Card ID"})
            expected.push_back(e);
        for (const std::string &e : controlEvents(true))
            expected.push_back(e);
        expected.push_back(std::string("caption ") + kCaption);
        EXPECT_EQ(r.view.withoutWaiting(), expected);

        // 80 waiting passes, each an event pass then 1 ms, before the first poll.
        const auto poll = std::find(r.view.events.begin(), r.view.events.end(), "send 3 A00F");
        std::vector<std::string> waiting;
        for (int i = 0; i < 80; ++i) {
            waiting.push_back("pump");
            waiting.push_back("sleep 1");
        }
        EXPECT_EQ(std::vector<std::string>(poll - 160, poll), waiting);
        EXPECT_EQ(r.state.cardLoop, ops::CardLoop::Idle);
        EXPECT_TRUE(r.state.readerFound);
        EXPECT_EQ(r.results.back().outcome, ops::Outcome::ReaderFailed);
        EXPECT_EQ(r.results.back().message, "Reader Not Find");
    }
}

TEST(CardLoop, StopClickEndsTheLoopAfterThePassInProgress)
{
    struct Case {
        const char *name;
        int clickAtPump;  // 0: no click at a pump
        int clickAtPoll;  // 0: no click during a poll's wait
        bool pollsAnswer; // every poll gets a card, or none does after the first
        int expectedPolls;
    };
    const Case cases[] = {
        {"click during the first waiting passes", 40, 0, true, 1},
        {"click at the first pass of the second poll", 81, 0, true, 2},
        {"click during the first poll's wait", 0, 1, true, 1},
        {"click during the third poll's wait", 0, 3, true, 3},
        {"poll after the click fails", 100, 0, false, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CardRig r;
        r.polls = {Answer::reply(cardBody("00BC614E"))};
        r.then = c.pollsAnswer ? Answer::reply(cardBody("00BC614E")) : Answer::silence();
        if (c.clickAtPump)
            r.view.atPump(c.clickAtPump, [&] { r.click(); });
        r.onPoll = [&](int n) {
            if (n == c.clickAtPoll)
                r.click();
        };
        r.click();

        EXPECT_EQ(r.pollCount, c.expectedPolls);
        EXPECT_EQ(r.view.withoutWaiting().back(), std::string("caption ") + kCaption);
        EXPECT_TRUE(r.view.inOrder({"busy off", "lamp Comm Yellow", "beep 1000 300",
                                    "lamp Card White", "close 3", "text CardID Card ID"}))
            << r.view.dump();
        EXPECT_EQ(r.view.panels[Panel::Msg], "Get Reader Info Ok. (COM : #3)");
        EXPECT_EQ(r.state.cardLoop, ops::CardLoop::Idle);
        // The stop click, then the loop's own end.
        ASSERT_EQ(r.results.size(), 2u);
        EXPECT_TRUE(r.results[0].ok());
        EXPECT_TRUE(r.results[1].ok());
        EXPECT_EQ(r.results[1].message, "");
    }
}

TEST(CardLoop, ClickWhileAStopIsPendingLeavesTheLoopItsPort)
{
    CardRig r;
    r.then = Answer::reply(cardBody("00000001"));
    r.view.atPump(10, [&] { r.click(); }); // stop
    r.view.atPump(20, [&] { r.click(); }); // pending stop: ignored
    r.onPoll = [&](int) { r.click(); };    // still pending at the poll
    r.click();

    EXPECT_EQ(r.pollCount, 1);
    EXPECT_EQ(r.view.starting("open "), std::vector<std::string>{"open 3 19200,e,8,1"});
    EXPECT_EQ(
        r.view.starting("caption "),
        (std::vector<std::string>{"caption Cancel Read Card", std::string("caption ") + kCaption}));
    EXPECT_EQ(r.view.count("beep 1000 300"), 1);
    EXPECT_EQ(r.view.count("beep 300 300"), 0);
    std::vector<ops::Outcome> outcomes;
    for (const ops::Result &result : r.results)
        outcomes.push_back(result.outcome);
    EXPECT_EQ(outcomes, (std::vector<ops::Outcome>{ops::Outcome::Ok, ops::Outcome::Refused,
                                                   ops::Outcome::Refused, ops::Outcome::Ok}));

    // Once the loop has ended, a click starts a new one.
    r.onPoll = {};
    r.view.atPump(r.view.pumps + 5, [&] { r.click(); });
    r.click();
    EXPECT_EQ(r.view.starting("open ").size(), 2u);
    EXPECT_EQ(r.pollCount, 2);
}

TEST(CardLoop, PortThatDoesNotOpen)
{
    CardRig r;
    r.bank.setBusy(3);
    r.click();

    std::vector<std::string> expected = {"caption Cancel Read Card"};
    for (const std::string &e : controlEvents(false))
        expected.push_back(e);
    for (const char *e : {"open 3 19200,e,8,1 failed", "lamp Comm Red",
                          "text Msg Open COM : 3 Error", "beep 300 300", "text CardID Card ID"})
        expected.push_back(e);
    for (const std::string &e : controlEvents(true))
        expected.push_back(e);
    expected.push_back(std::string("caption ") + kCaption);
    EXPECT_EQ(r.view.events, expected);
    EXPECT_EQ(r.state.cardLoop, ops::CardLoop::Idle);
    EXPECT_EQ(r.results.back().outcome, ops::Outcome::PortNotOpened);
    EXPECT_EQ(r.results.back().textId, text::ids::kTextOpenCom);

    // The next click tries again.
    r.bank.setBusy(3, false);
    r.view.atPump(1, [&] { r.click(); });
    r.click();
    EXPECT_EQ(r.pollCount, 1);
}

} // namespace
} // namespace kt::test

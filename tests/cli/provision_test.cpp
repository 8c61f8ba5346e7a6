// kt4500ctl provision's logic over a fake bench of readers, and its CSV report.
#include "provision.h"
#include "report.h"
#include "temp_dir.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdlib.h>

namespace
{

using namespace kt::cli;
using Outcome = ReaderResult::Outcome;

struct FakeReader {
    std::string serial;
    std::string id = "01";
    std::array<int, 3> mode{0, 0, 1};
    int lineIndex = 5;
    bool keepsId = false;     // acknowledges a new ID, keeps its own
    bool refusesMode = false; // no acknowledgement of the mode
};

// A bench where the test plugs readers in and takes them away. An unplugged reader answers
// nothing; the next of the box is plugged in after it, at the next probe.
class FakeBench final : public Bench
{
public:
    std::optional<std::string> probe(int lineIndex) override
    {
        ++probes;
        if (!present && !box.empty() && plugNext) {
            present = box.front();
            box.pop_front();
        }
        if (!present || present->lineIndex != lineIndex)
            return std::nullopt;
        return present->serial;
    }
    std::optional<ReaderRead> read(int lineIndex) override
    {
        calls.push_back("read " + std::to_string(lineIndex));
        if (!present || present->lineIndex != lineIndex)
            return std::nullopt;
        return ReaderRead{present->serial, "03.20-01", present->id, present->mode};
    }
    bool setId(int lineIndex, int id) override
    {
        calls.push_back("id " + std::to_string(id));
        if (interruptAt == "id")
            interruptedNow = true;
        if (!present || present->lineIndex != lineIndex)
            return false;
        if (!present->keepsId)
            present->id = (id < 10 ? "0" : "") + std::to_string(id);
        return true;
    }
    bool setMode(int lineIndex, const std::array<int, 3> &mode) override
    {
        calls.push_back("mode");
        if (!present || present->lineIndex != lineIndex || present->refusesMode)
            return false;
        present->mode = mode;
        return true;
    }
    bool setLineSettings(int lineIndex, int newLineIndex) override
    {
        calls.push_back("line " + std::to_string(newLineIndex));
        if (!present || present->lineIndex != lineIndex)
            return false;
        present->lineIndex = newLineIndex;
        return true;
    }
    void pause(std::uint32_t) override
    {
        ++pauses;
        if (pauses > 10'000)
            interruptedNow = true; // a test that never ends is a failed test
    }
    bool interrupted() override { return interruptedNow; }

    std::deque<FakeReader> box;
    std::optional<FakeReader> present;
    bool plugNext = true;
    std::string interruptAt;
    bool interruptedNow = false;
    int probes = 0;
    int pauses = 0;
    std::vector<std::string> calls;
};

struct ProvisionRun {
    std::vector<ReaderResult> results;
    Provisioner::End end = Provisioner::End::Interrupted;
    bool anyFailed = false;
};

// Each reader is taken away once it is done, unless keep says otherwise.
ProvisionRun provision(FakeBench &bench, ProvisionPlan plan,
                       const std::map<std::string, std::string> &finished = {},
                       std::function<void(FakeBench &, const ReaderResult &)> done = {})
{
    if (plan.lineIndices.empty())
        plan.lineIndices = {5};
    ProvisionRun run;
    Provisioner::Events events;
    events.readerDone = [&](const ReaderResult &result) {
        run.results.push_back(result);
        if (done)
            done(bench, result);
        else
            bench.present.reset();
    };
    Provisioner provisioner(bench, plan, events);
    run.end = provisioner.run(finished);
    run.anyFailed = provisioner.anyFailed();
    return run;
}

TEST(Provisioner, AFailedReaderLeavesItsIdToTheNextAndAKnownOneIsNotChanged)
{
    FakeBench bench;
    bench.box = {{"AAAAAAAA"},
                 {"BBBBBBBB", "01", {0, 0, 1}, 5, true},
                 {"AAAAAAAA", "07"},
                 {"CCCCCCCC"},
                 {"DDDDDDDD"}};
    const ProvisionRun run = provision(bench, {{7, 9}, 3, {}, {}, {}, {}, {}});
    ASSERT_EQ(run.results.size(), 5u);
    EXPECT_EQ(run.results[0].outcomeText(), "ok");
    EXPECT_EQ(run.results[0].after->id, "07");
    EXPECT_EQ(run.results[1].outcomeText(), "failed: read back ID");
    EXPECT_EQ(run.results[2].outcomeText(), "already");
    EXPECT_EQ(run.results[2].alreadyId, "07");
    EXPECT_EQ(run.results[3].after->id, "08") << "the failure did not use up 08";
    EXPECT_EQ(run.results[4].after->id, "09");
    EXPECT_EQ(run.end, Provisioner::End::AllGiven);
    EXPECT_TRUE(run.anyFailed);
    EXPECT_EQ(std::count(bench.calls.begin(), bench.calls.end(), "id 7"), 1)
        << "nothing was sent to the known reader";
}

TEST(Provisioner, ModeAndLineSettingsComeAfterTheIdAndAreReadBackWhereTheReaderNowIs)
{
    FakeBench bench;
    bench.box = {{"AAAAAAAA", "04", {0, 2, 1}, 11}};
    ProvisionPlan plan{{1, 1}, 3, {5, 11}, 1, {}, 0, 3};
    const ProvisionRun run = provision(bench, plan);
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_EQ(run.results[0].outcomeText(), "ok");
    EXPECT_EQ(bench.calls,
              (std::vector<std::string>{"read 11", "id 1", "mode", "line 3", "read 3"}));
    EXPECT_EQ(run.results[0].before->modeText(), "021");
    EXPECT_EQ(run.results[0].after->modeText(), "120") << "the Wiegand digit is the reader's own";
    EXPECT_EQ(run.results[0].lineIndexAfter, 3);

    FakeBench refusing;
    refusing.box = {{"AAAAAAAA", "04", {0, 2, 1}, 5, false, true}};
    const ProvisionRun failed =
        provision(refusing, {{1, 1}, 3, {}, 1, {}, {}, 3}, {},
                  [](FakeBench &b, const ReaderResult &) { b.interruptedNow = true; });
    ASSERT_EQ(failed.results.size(), 1u);
    EXPECT_EQ(failed.results[0].outcomeText(), "failed: set mode");
    EXPECT_EQ(failed.results[0].after->id, "01") << "the ID it was given is reported";
    EXPECT_EQ(std::count(refusing.calls.begin(), refusing.calls.end(), "line 3"), 0);
}

TEST(Provisioner, WaitsUntilTheReaderIsGoneOrSwapped)
{
    // Left plugged in, a finished reader is asked again and again, never set up twice.
    FakeBench bench;
    bench.box = {{"AAAAAAAA"}, {"BBBBBBBB"}};
    int asked = 0;
    const ProvisionRun stays = provision(bench, {{1, 2}, 3, {}, {}, {}, {}, {}}, {},
                                         [&](FakeBench &b, const ReaderResult &) {
                                             asked = b.probes;
                                             b.plugNext = false;
                                             b.box.clear();
                                             b.pauses = 9'000;
                                         });
    EXPECT_EQ(stays.results.size(), 1u);
    EXPECT_GT(bench.probes - asked, 500);
    EXPECT_EQ(stays.end, Provisioner::End::Interrupted);

    // Swapped without a pause: the other serial number is the next reader at once.
    FakeBench swapped;
    swapped.box = {{"BBBBBBBB"}};
    swapped.present = FakeReader{"AAAAAAAA"};
    const ProvisionRun swap = provision(
        swapped, {{1, 2}, 3, {}, {}, {}, {}, {}}, {}, [](FakeBench &b, const ReaderResult &) {
            b.present = b.box.empty() ? std::nullopt : std::optional(b.box.front());
            if (!b.box.empty())
                b.box.pop_front();
        });
    ASSERT_EQ(swap.results.size(), 2u);
    EXPECT_EQ(swap.results[1].serial, "BBBBBBBB");
    EXPECT_EQ(swap.end, Provisioner::End::AllGiven);
}

TEST(Provisioner, IdsOfTheReportAreNotGivenAgainAndAnInterruptMidwayIsReported)
{
    FakeBench bench;
    bench.box = {{"CCCCCCCC"}};
    bench.interruptAt = "id";
    const ProvisionRun run =
        provision(bench, {{1, 3}, 3, {}, {}, {}, {}, {}}, {{"AAAAAAAA", "01"}, {"BBBBBBBB", "02"}});
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_EQ(run.results[0].outcomeText(), "interrupted");
    EXPECT_EQ(run.results[0].after->id, "03") << "what was done to it";
    EXPECT_EQ(run.end, Provisioner::End::Interrupted);

    FakeBench full;
    full.box = {{"CCCCCCCC"}};
    EXPECT_EQ(provision(full, {{1, 1}, 3, {}, {}, {}, {}, {}}, {{"AAAAAAAA", "01"}}).end,
              Provisioner::End::AllGiven);
    EXPECT_EQ(full.probes, 0) << "no ID left to give";
}

TEST(Report, QuotesAndEscapesWhatNeedsIt)
{
    EXPECT_EQ(reportSerial(std::string("A\"B,\\\x01\xC3", 7)), "A\"B,\\\\\\x01\\xC3");
    const struct {
        const char *field;
        const char *csv;
    } cases[] = {
        {"12345678", "12345678"},
        {"19200,e,8,1", "\"19200,e,8,1\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"a\nb", "\"a\nb\""},
        {"", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(csvField(c.field), c.csv);
        const auto parsed = parseCsv(std::string(c.csv) + ",x\r\n");
        ASSERT_EQ(parsed.size(), 1u);
        EXPECT_EQ(parsed[0], (std::vector<std::string>{c.field, "x"}));
    }
    const std::string time = isoTime(0);
    EXPECT_EQ(time.size(), 25u) << time;
    EXPECT_EQ(time[10], 'T');
    EXPECT_EQ(time[22], ':') << "the offset as +HH:MM";
}

TEST(Report, StartsWithItsHeaderAndKnowsTheReadersOfEarlierRuns)
{
    const kt::test::TempDir folder("kt-report");
    const std::string path = folder.file("report.csv");
    ReportRow row{"t", 3, "A\"B,C;1D", "03.20-01", "01", "05", "001", "101", "19200,e,8,1", "ok"};
    {
        Report report;
        std::string error;
        ASSERT_TRUE(report.open(path, error)) << error;
        ASSERT_TRUE(report.append(row));
        row.serial = "BBBBBBBB";
        row.outcome = "failed: set ID";
        ASSERT_TRUE(report.append(row));
    }
    Report again;
    std::string error;
    ASSERT_TRUE(again.open(path, error)) << error;
    EXPECT_EQ(again.finished(), (std::map<std::string, std::string>{{"A\"B,C;1D", "05"}}));
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().rfind(std::string(kReportHeader) + "\nt,COM3,", 0), 0u) << "one header";
    EXPECT_EQ(parseCsv(text.str()).size(), 3u);

    const std::string other = folder.file("notes.txt");
    std::ofstream(other) << "my notes\n";
    Report notes;
    EXPECT_FALSE(notes.open(other, error));
    EXPECT_NE(error.find("not a provisioning report"), std::string::npos);
}

} // namespace

#include "saved_run.h"
#include "stats.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numeric>

namespace
{

using kt::bench::Figure;

std::vector<double> oneTo(int n)
{
    std::vector<double> values(static_cast<std::size_t>(n));
    std::iota(values.rbegin(), values.rend(), 1.0); // descending: the order must not matter
    return values;
}

TEST(BenchStats, MedianAndNearestRankPercentile)
{
    struct Case {
        int count;
        double median;
        double p95;
    };
    // Nearest rank: p95 of 20 samples is the 19th, of 21 the 20th, of 100 the 95th.
    const Case cases[] = {{1, 1, 1},      {2, 1.5, 2},  {3, 2, 3},
                          {20, 10.5, 19}, {21, 11, 20}, {100, 50.5, 95}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.count);
        EXPECT_DOUBLE_EQ(kt::bench::median(oneTo(c.count)), c.median);
        EXPECT_DOUBLE_EQ(kt::bench::percentile(oneTo(c.count), 0.95), c.p95);
    }
    EXPECT_DOUBLE_EQ(kt::bench::percentile(oneTo(10), 1.0), 10);
    EXPECT_DOUBLE_EQ(kt::bench::percentile(oneTo(10), 0.0), 1);
}

TEST(BenchStats, EmptySamplesAreNotMeasuredAnywhere)
{
    EXPECT_TRUE(std::isnan(kt::bench::median({})));
    EXPECT_TRUE(std::isnan(kt::bench::percentile({}, 0.95)));

    const Figure empty{"Start", "ms", {}, 9.0, "median <= 300", {}, "no display"};
    EXPECT_FALSE(empty.ratioToFloor());
    const std::string json = kt::bench::formatJson({}, {empty});
    EXPECT_NE(json.find("\"median\": null, \"p95\": null, \"floor\": 9,"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"runs\": 0, \"met\": null"), std::string::npos) << json;
    EXPECT_NE(kt::bench::formatTable({empty}).find("not measured"), std::string::npos);
}

TEST(BenchStats, RatioOnlyAgainstAPositiveFloor)
{
    Figure f{"Transact", "ms", {9.0, 9.9, 9.45}, 9.0, "median <= 9.6", true, {}};
    ASSERT_TRUE(f.ratioToFloor());
    EXPECT_DOUBLE_EQ(*f.ratioToFloor(), 1.05);
    f.floor = 0.0;
    EXPECT_FALSE(f.ratioToFloor());
    f.floor.reset();
    EXPECT_FALSE(f.ratioToFloor());
}

TEST(BenchStats, TableShowsEveryOutcomeInAlignedColumns)
{
    const std::vector<Figure> figures{
        {"Transact", "ms", {9.3, 9.4}, 9.0, "median <= 9.6", true, {}},
        {"Card loop", "ms", {99.0}, 89.0, "median <= 97.9", false, {}},
        {"peer: start", "ms", {250.0}, {}, "-", {}, {}},
        {"Start", "ms", {}, {}, "median <= 300", {}, "no display"},
    };
    const std::string table = kt::bench::formatTable(figures);
    for (const char *outcome : {"| met", "| MISSED", "| reference", "| not measured"})
        EXPECT_NE(table.find(outcome), std::string::npos) << outcome << "\n" << table;
    // Every line as wide as the header, so the Markdown lines up in a terminal too.
    std::size_t width = table.find('\n');
    for (std::size_t at = 0; at < table.size();) {
        const std::size_t end = table.find('\n', at);
        EXPECT_EQ(end - at, width) << table.substr(at, end - at);
        at = end + 1;
    }
}

TEST(BenchStats, JsonEscapesWhatWouldBreakTheFile)
{
    EXPECT_EQ(kt::bench::jsonEscaped("Transact \"A00B\""), "Transact \\\"A00B\\\"");
    EXPECT_EQ(kt::bench::jsonEscaped("a\\b\nc\td\x01"), "a\\\\b\\nc\\td\\u0001");
    EXPECT_EQ(kt::bench::jsonEscaped("\xC2\xB1 10 ms"), "\xC2\xB1 10 ms"); // UTF-8 kept
}

// The README's table is made from the saved file: it must be the table the run printed, with
// the run's header, for every kind of figure.
TEST(BenchStats, SavedRunGivesBackTheRunsOwnReport)
{
    const kt::bench::RunInfo run{
        "2026-12-09T02:10:00Z", "a5a3dcb-dirty", "GCC 12.2.0", "6.4.2", "AMD EPYC \"7B13\"", 2};
    const std::vector<Figure> figures{
        {"Transact \"A00B\"", "ms", {9.47123456789, 9.3, 10.96}, 9.0, "median <= 9.6", true, {}},
        {"Wake-ups", "/s", {101.7, 118.1}, 1000.0 * 7 / 89 + 5, "median <= 150", false, "a\\b"},
        {"peer: start", "ms", {250.0}, {}, "-", {}, "\xC2\xB1 10 ms\nsecond line"},
        {"Start", "ms", {}, {}, "median <= 300", {}, "no display"},
    };
    std::string error;
    const auto saved = kt::bench::parseSavedRun(kt::bench::formatJson(run, figures), error);
    ASSERT_TRUE(saved) << error;
    EXPECT_EQ(kt::bench::formatReport(saved->run, saved->figures),
              kt::bench::formatReport(run, figures));
    const std::string report = kt::bench::formatReport(run, figures);
    for (const char *part : {"2026-12-09T02:10:00Z", "a5a3dcb-dirty", "GCC 12.2.0", "Qt 6.4.2",
                             "2 cores (AMD EPYC \"7B13\")", "- Start: no display"})
        EXPECT_NE(report.find(part), std::string::npos) << part << "\n" << report;

    // What is not a saved run is refused, not shown as an empty table.
    for (const char *bad :
         {"", "[{\"name\": \"old array\"}]", "{\"run\": {}, \"figures\": [1]}",
          "{\"run\": {}, \"figures\": [{\"name\": \"x\", \"samples\": [\"9\"]}]}"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(kt::bench::parseSavedRun(bad, error));
        EXPECT_FALSE(error.empty());
        error.clear();
    }
}

} // namespace

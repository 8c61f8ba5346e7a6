#pragma once

// Figures of the benchmark run: their samples, the summary the table quotes, and the two
// outputs (a Markdown table for people and the README, a JSON file for tools).

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kt::bench
{

// The middle value; the mean of the two middle values for an even count. NaN when empty.
double median(std::vector<double> samples);
// Nearest rank: the smallest sample with at least share (0..1] of the samples at or below it.
// NaN when empty.
double percentile(std::vector<double> samples, double share);

struct Figure {
    std::string name;
    std::string unit; // "ms", "%", "MiB"
    std::vector<double> samples;
    std::optional<double> floor; // what the system's own constants allow; none for a goal only
    std::string goal;            // as the table shows it, e.g. "median <= 9.6, p95 <= 11"
    std::optional<bool> met;     // none: not measured
    std::string note;            // why it was not measured, or what explains the result

    double median() const { return bench::median(samples); }
    double p95() const { return percentile(samples, 0.95); }
    // median / floor; none where the floor is 0 or missing.
    std::optional<double> ratioToFloor() const;
};

// A figure not yet measured, with its floor and its goal as the table shows it.
Figure figureOf(std::string name, std::string unit, double floor, std::string goal);

// What a run was measured with, so that figures from two runs can be told apart.
struct RunInfo {
    std::string date;     // UTC, ISO 8601, e.g. "2026-12-09T02:10:00Z"
    std::string commit;   // git describe --always --dirty of the tree built, or "unknown"
    std::string compiler; // e.g. "GCC 12.2.0"
    std::string qt;       // the Qt version the programs ran with, e.g. "6.4.2"
    std::string cpu;      // the processor's model name
    unsigned cores = 0;
};

// One Markdown table: figure, runs, median, p95, floor, goal, ratio to the floor, result.
std::string formatTable(const std::vector<Figure> &figures);

// The run's one-line header, the table, and a list of the figures' notes: what the benchmark
// prints, and what README quotes.
std::string formatReport(const RunInfo &run, const std::vector<Figure> &figures);

// A JSON object: "run" with the RunInfo's fields, and "figures", an array with one object per
// figure: name, unit, median, p95, floor, goal, runs, met, note and its samples. Numbers that
// were not measured are null.
std::string formatJson(const RunInfo &run, const std::vector<Figure> &figures);

// Text with JSON's escapes, without the quotes around it.
std::string jsonEscaped(const std::string &text);

} // namespace kt::bench

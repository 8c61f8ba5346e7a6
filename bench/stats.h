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

// One Markdown table: figure, runs, median, p95, floor, goal, ratio to the floor, result.
std::string formatTable(const std::vector<Figure> &figures);

// A JSON array with one object per figure: name, unit, median, p95, floor, goal, and also
// runs, met and note. Numbers that were not measured are null.
std::string formatJson(const std::vector<Figure> &figures);

// Text with JSON's escapes, without the quotes around it.
std::string jsonEscaped(const std::string &text);

} // namespace kt::bench

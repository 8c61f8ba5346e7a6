#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kt::bench
{

namespace
{
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string number(double value, int decimals)
{
    if (!std::isfinite(value))
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Enough decimals to tell the figures apart at their own scale.
int decimalsFor(const Figure &figure)
{
    if (figure.unit == "ms")
        return figure.median() < 50.0 ? 2 : 1;
    return 1;
}

// A JSON number printed with format, or null when not measured.
std::string jsonNumber(double value, const char *format)
{
    if (!std::isfinite(value))
        return "null";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A summary figure, rounded for people to read.
std::string jsonNumber(double value)
{
    return jsonNumber(value, "%.3f");
}

// As many digits as give the same double back, so that a saved run's table is the run's own.
std::string exactNumber(double value)
{
    return jsonNumber(value, "%.17g");
}

std::string result(const Figure &figure)
{
    if (!figure.met)
        return figure.samples.empty() ? "not measured" : "reference";
    return *figure.met ? "met" : "MISSED";
}

// Display width of UTF-8 text: one column per code point.
std::size_t width(const std::string &text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}
} // namespace

double median(std::vector<double> samples)
{
    if (samples.empty())
        return kNaN;
    std::sort(samples.begin(), samples.end());
    const std::size_t mid = samples.size() / 2;
    if (samples.size() % 2 == 1)
        return samples[mid];
    return (samples[mid - 1] + samples[mid]) / 2.0;
}

double percentile(std::vector<double> samples, double share)
{
    if (samples.empty())
        return kNaN;
    std::sort(samples.begin(), samples.end());
    const double rank = std::ceil(share * static_cast<double>(samples.size()));
    const std::size_t index = rank < 1.0 ? 0 : static_cast<std::size_t>(rank) - 1;
    return samples[std::min(index, samples.size() - 1)];
}

Figure figureOf(std::string name, std::string unit, double floor, std::string goal)
{
    Figure figure;
    figure.name = std::move(name);
    figure.unit = std::move(unit);
    figure.floor = floor;
    figure.goal = std::move(goal);
    return figure;
}

std::optional<double> Figure::ratioToFloor() const
{
    if (!floor || *floor <= 0.0 || samples.empty())
        return std::nullopt;
    return median() / *floor;
}

std::string formatTable(const std::vector<Figure> &figures)
{
    const std::vector<std::string> header{"figure", "runs", "median", "p95",
                                          "floor",  "goal", "ratio",  "result"};
    std::vector<std::vector<std::string>> rows;
    for (const Figure &f : figures) {
        const int decimals = decimalsFor(f);
        const auto withUnit = [&](double v) {
            return std::isfinite(v) ? number(v, decimals) + " " + f.unit : std::string("-");
        };
        const auto ratio = f.ratioToFloor();
        rows.push_back({f.name, std::to_string(f.samples.size()), withUnit(f.median()),
                        withUnit(f.p95()), f.floor ? withUnit(*f.floor) : std::string("-"), f.goal,
                        ratio ? number(*ratio, 3) : std::string("-"), result(f)});
    }
    std::vector<std::size_t> widths;
    for (const auto &cell : header)
        widths.push_back(width(cell));
    for (const auto &row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], width(row[i]));
    }
    const auto line = [&](const std::vector<std::string> &cells) {
        std::string text = "|";
        for (std::size_t i = 0; i < cells.size(); ++i)
            text += " " + cells[i] + std::string(widths[i] - width(cells[i]), ' ') + " |";
        return text + "\n";
    };
    std::string table = line(header);
    std::vector<std::string> rule;
    for (std::size_t w : widths)
        rule.push_back(std::string(w, '-'));
    table += line(rule);
    for (const auto &row : rows)
        table += line(row);
    return table;
}

std::string jsonEscaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string formatReport(const RunInfo &run, const std::vector<Figure> &figures)
{
    std::string report = "Measured " + run.date + ", commit " + run.commit + ", " + run.compiler
                         + ", Qt " + run.qt + ", " + std::to_string(run.cores) + " cores ("
                         + run.cpu + ")\n\n" + formatTable(figures);
    bool first = true;
    for (const Figure &f : figures) {
        if (f.note.empty())
            continue;
        report += (first ? "\n- " : "- ") + f.name + ": " + f.note + "\n";
        first = false;
    }
    return report;
}

std::string formatJson(const RunInfo &run, const std::vector<Figure> &figures)
{
    const auto text = [](const std::string &value) { return "\"" + jsonEscaped(value) + "\""; };
    std::string json = "{\n  \"run\": {\"date\": " + text(run.date) + ", \"commit\": "
                       + text(run.commit) + ", \"compiler\": " + text(run.compiler)
                       + ", \"qt\": " + text(run.qt) + ", \"cpu\": " + text(run.cpu)
                       + ", \"cores\": " + std::to_string(run.cores) + "},\n  \"figures\": [\n";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure &f = figures[i];
        std::string samples;
        for (double v : f.samples)
            samples += (samples.empty() ? "" : ", ") + exactNumber(v);
        json += "    {\"name\": " + text(f.name) + ", \"unit\": " + text(f.unit)
                + ", \"median\": " + jsonNumber(f.median()) + ", \"p95\": " + jsonNumber(f.p95())
                + ", \"floor\": " + (f.floor ? exactNumber(*f.floor) : "null") + ", \"goal\": "
                + text(f.goal) + ", \"runs\": " + std::to_string(f.samples.size()) + ", \"met\": "
                + (f.met ? (*f.met ? "true" : "false") : "null") + ", \"note\": " + text(f.note)
                + ", \"samples\": [" + samples + "]}" + (i + 1 < figures.size() ? "," : "") + "\n";
    }
    return json + "  ]\n}\n";
}

} // namespace kt::bench

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

std::string jsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
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

std::string formatJson(const std::vector<Figure> &figures)
{
    std::string json = "[\n";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure &f = figures[i];
        json += "  {\"name\": \"" + jsonEscaped(f.name) + "\", \"unit\": \"" + jsonEscaped(f.unit)
                + "\", \"median\": " + jsonNumber(f.median()) + ", \"p95\": " + jsonNumber(f.p95())
                + ", \"floor\": " + (f.floor ? jsonNumber(*f.floor) : "null") + ", \"goal\": \""
                + jsonEscaped(f.goal) + "\", \"runs\": " + std::to_string(f.samples.size())
                + ", \"met\": " + (f.met ? (*f.met ? "true" : "false") : "null") + ", \"note\": \""
                + jsonEscaped(f.note) + "\"}" + (i + 1 < figures.size() ? "," : "") + "\n";
    }
    return json + "]\n";
}

} // namespace kt::bench

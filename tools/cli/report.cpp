#include "report.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace kt::cli
{

std::string reportSerial(std::string_view bytes)
{
    std::string text;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            text += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

std::string csvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string csvLine(const ReportRow &row)
{
    const std::string fields[] = {
        row.time,         row.port > 0 ? "COM" + std::to_string(row.port) : "",
        row.serial,       row.version,
        row.idBefore,     row.idAfter,
        row.modeBefore,   row.modeAfter,
        row.lineSettings, row.outcome};
    std::string line;
    for (const std::string &field : fields)
        line += (line.empty() ? "" : ",") + csvField(field);
    return line;
}

std::vector<std::vector<std::string>> parseCsv(std::string_view text)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    bool any = false; // the record has begun
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        any = true;
        if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            record.push_back(std::move(field));
            field.clear();
            records.push_back(std::move(record));
            record.clear();
            any = false;
        } else {
            field += c;
        }
    }
    if (any || quoted) {
        record.push_back(std::move(field));
        records.push_back(std::move(record));
    }
    return records;
}

std::string isoTime(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    char text[40];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0)
        return {};
    // strftime gives the offset as +0100; the extended form beside the time has a colon.
    std::string iso = text;
    if (iso.size() >= 5)
        iso.insert(iso.size() - 2, ":");
    return iso;
}

Report::~Report()
{
    if (m_file != nullptr)
        std::fclose(m_file);
}

bool Report::open(const std::string &path, std::string &error)
{
    std::string existing;
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            existing = text.str();
        }
    }
    const std::vector<std::vector<std::string>> records = parseCsv(existing);
    if (!records.empty()) {
        const std::vector<std::string> &header = records.front();
        const auto column = [&](std::string_view name) {
            return static_cast<std::size_t>(std::find(header.begin(), header.end(), name)
                                            - header.begin());
        };
        const std::size_t serial = column("serial");
        const std::size_t id = column("id_after");
        const std::size_t outcome = column("outcome");
        if (serial >= header.size() || id >= header.size() || outcome >= header.size()) {
            error = path
                    + " is not a provisioning report (its first line is not the header "
                      "\""
                    + std::string(kReportHeader) + "\")";
            return false;
        }
        for (std::size_t i = 1; i < records.size(); ++i) {
            const std::vector<std::string> &r = records[i];
            if (std::max({serial, id, outcome}) < r.size() && r[outcome] == "ok")
                m_finished[r[serial]] = r[id];
        }
    }
    m_file = std::fopen(path.c_str(), "ab");
    if (m_file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    bool written = true;
    if (existing.empty())
        written = write(std::string(kReportHeader) + "\n");
    else if (existing.back() != '\n')
        written = write("\n"); // a last line left without its end by an editor
    if (!written)
        error = path + ": " + std::strerror(errno);
    return written;
}

bool Report::append(const ReportRow &row)
{
    if (row.outcome == "ok")
        m_finished[row.serial] = row.idAfter;
    return m_file == nullptr || write(csvLine(row) + "\n");
}

bool Report::write(const std::string &line)
{
    // One row a write, on the disk before the next reader: a crash or a pulled cable after
    // it loses no finished row.
    return std::fwrite(line.data(), 1, line.size(), m_file) == line.size()
           && std::fflush(m_file) == 0 && ::fsync(::fileno(m_file)) == 0;
}

} // namespace kt::cli

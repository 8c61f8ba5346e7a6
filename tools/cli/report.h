#pragma once

// The provisioning report: one CSV row a reader, appended to a file that outlives the run, so
// that the site's documentation and a later run both know what was done.

#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kt::cli
{

struct ReportRow {
    std::string time; // ISO 8601 with the offset
    int port = 0;
    std::string serial; // as reportSerial() gives it
    std::string version;
    std::string idBefore;
    std::string idAfter;
    std::string modeBefore; // the three digits
    std::string modeAfter;
    std::string lineSettings; // the text the reader works at afterwards
    std::string outcome;      // ok, already, failed: <step>, interrupted
};

inline constexpr std::string_view kReportHeader =
    "time,port,serial,version,id_before,id_after,mode_before,mode_after,line_settings,outcome";

// The reader's bytes as text: printable ASCII as it is, a backslash as "\\", every other byte
// as "\xNN". Two serial numbers are the same exactly when these texts are.
std::string reportSerial(std::string_view bytes);

// One field quoted where it must be (a comma, a quote, CR or LF in it) with its quotes doubled.
std::string csvField(std::string_view text);
std::string csvLine(const ReportRow &row); // no line end

// The fields of each record of a CSV text (quoted fields may hold line ends).
std::vector<std::vector<std::string>> parseCsv(std::string_view text);

// "2026-12-08T23:04:05+01:00": the local time with its offset from UTC.
std::string isoTime(std::time_t when);

class Report
{
public:
    Report() = default;
    ~Report();
    Report(const Report &) = delete;
    Report &operator=(const Report &) = delete;

    // Reads what the file holds and opens it to append, with the header first when the file is
    // new or empty. false, with the reason in error, when it cannot be read or written.
    bool open(const std::string &path, std::string &error);

    // The serial numbers with an ok row, with the ID they were given: in the file as opened,
    // and in every ok row appended since.
    const std::map<std::string, std::string> &finished() const { return m_finished; }

    // Writes the row and flushes it to the disk before returning. false when that failed.
    bool append(const ReportRow &row);

private:
    bool write(const std::string &line);

    std::FILE *m_file = nullptr;
    std::map<std::string, std::string> m_finished;
};

} // namespace kt::cli

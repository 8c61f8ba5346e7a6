// kt4500-bench: the timing and footprint figures of kt4500-config against the floors its own
// constants set, and against a peer program. Prints one table; --json writes the figures.

#include "application.h"
#include "figures.h"
#include "saved_run.h"
#include "stats.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using kt::bench::Figure;

constexpr std::string_view kUsage =
    R"(Usage: kt4500-bench [--json FILE] [--log FILE] [--display :N] [--peer LABEL=PATH]...
                    [--peer-missing LABEL=WHY]... [--commit TEXT] [--quick] [--only GROUP]
       kt4500-bench --table FILE

Measures kt4500-config against kt4500-sim on a pseudo-terminal (both found beside this
program) and prints one table. Runs only as a benchmark: the exit status is 0 whatever the
figures are, 1 when it cannot run at all, 2 for a usage error.
  --json FILE           write the figures to FILE as JSON
  --log FILE            write the program's log lines to FILE (otherwise they are dropped)
  --display :N          an X display (Xvfb) on which the start of the window is measured
  --peer LABEL=PATH     a program whose start is measured the same way, for comparison
  --peer-missing LABEL=WHY  a peer that is not there, and why (shown in the table)
  --commit TEXT         the tree measured (git describe), for the header and the JSON;
                        "unknown" without it
  --table FILE          print the header and the table of a run saved with --json, then exit
  --quick               fewer runs of each figure
  --only GROUP          only one group of figures: transact, absent, found, card, wake, blink,
                        start, provision
)";

FILE *g_log = nullptr;

void logMessage(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (g_log == nullptr)
        return;
    std::fprintf(g_log, "%s: %s\n", context.category != nullptr ? context.category : "default",
                 message.toLocal8Bit().constData());
}

std::string executableDir()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

std::string cpuModel()
{
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line)) {
        if (line.starts_with("model name")) {
            const auto colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown CPU";
}

struct Options {
    std::string json;
    std::string log;
    std::string display;
    std::vector<kt::bench::StartSubject> peers;
    std::string commit = "unknown";
    std::string table;
    bool quick = false;
    std::string only;
};

bool splitLabel(const std::string &text, std::string &label, std::string &rest)
{
    const auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        return false;
    label = text.substr(0, equals);
    rest = text.substr(equals + 1);
    return true;
}

std::optional<Options> parse(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        std::string label;
        std::string rest;
        if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--only" && hasValue) {
            options.only = argv[++i];
            static const std::vector<std::string> kGroups{
                "transact", "absent", "found", "card", "wake", "blink", "start", "provision"};
            if (std::find(kGroups.begin(), kGroups.end(), options.only) == kGroups.end())
                return std::nullopt;
        } else if (arg == "--commit" && hasValue) {
            options.commit = argv[++i];
        } else if (arg == "--table" && hasValue) {
            options.table = argv[++i];
        } else if (arg == "--json" && hasValue) {
            options.json = argv[++i];
        } else if (arg == "--log" && hasValue) {
            options.log = argv[++i];
        } else if (arg == "--display" && hasValue) {
            options.display = argv[++i];
        } else if (arg == "--peer" && hasValue && splitLabel(argv[++i], label, rest)) {
            options.peers.push_back({label, rest, {}});
        } else if (arg == "--peer-missing" && hasValue && splitLabel(argv[++i], label, rest)) {
            options.peers.push_back({label, {}, rest.empty() ? "not available" : rest});
        } else {
            return std::nullopt;
        }
    }
    return options;
}

std::string compilerName()
{
#if defined(__clang__)
    return "Clang " __clang_version__;
#elif defined(__GNUC__)
    return "GCC " + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "."
           + std::to_string(__GNUC_PATCHLEVEL__);
#else
    return "unknown compiler";
#endif
}

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char text[32] = "unknown";
    if (::gmtime_r(&now, &utc) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The saved run's header and table, as the run printed them.
int printSavedTable(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) {
        std::fprintf(stderr, "kt4500-bench: cannot read %s\n", path.c_str());
        return 1;
    }
    std::string error;
    const std::optional<kt::bench::SavedRun> saved = kt::bench::parseSavedRun(text.str(), error);
    if (!saved) {
        std::fprintf(stderr, "kt4500-bench: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    std::fputs(kt::bench::formatReport(saved->run, saved->figures).c_str(), stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::fputs(kUsage.data(), stdout);
            return 0;
        }
    }
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        std::fputs(kUsage.data(), stderr);
        return 2;
    }
    if (!options->table.empty())
        return printSavedTable(options->table);
    const kt::bench::RunInfo run{utcNow(),   options->commit, compilerName(),
                                 qVersion(), cpuModel(),      std::thread::hardware_concurrency()};
    kt::bench::RunCounts runs;
    if (options->quick)
        runs = {50, 8, 5, 4, 20, 1, 3, 3};
    if (!options->only.empty()) {
        const std::string &g = options->only;
        runs = {g == "transact" ? runs.transactions : 0,
                g == "transact" ? runs.silentTransactions : 0,
                g == "absent" ? runs.absentScans : 0,
                g == "found" ? runs.foundScans : 0,
                g == "card" ? runs.cardPolls : 0,
                g == "blink" ? runs.blinkSweeps : 0,
                g == "start" ? runs.starts : 0,
                g == "wake" ? runs.wakeSeconds : 0,
                g == "provision" ? runs.provisionedReaders : 0};
    }

    const char *tmp = std::getenv("TMPDIR");
    std::string workDir =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kt4500-bench.XXXXXX";
    if (::mkdtemp(workDir.data()) == nullptr) {
        std::perror("kt4500-bench: mkdtemp");
        return 1;
    }
    if (!options->log.empty())
        g_log = std::fopen(options->log.c_str(), "w");
    qInstallMessageHandler(logMessage);

    const std::string binDir = executableDir();
    std::vector<Figure> figures;
    {
        // The window of this process draws offscreen; only the started programs use the display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        int appArgc = 1;
        kt::app::Application app(appArgc, argv);
        std::fprintf(stderr, "kt4500-bench: the link and the window against kt4500-sim ...\n");
        figures = kt::bench::measureWindowFigures(binDir + "/kt4500-sim", workDir, runs);
        std::fprintf(stderr, "kt4500-bench: kt4500ctl provision against kt4500-sim ...\n");
        figures.push_back(kt::bench::measureProvisionFigure(binDir + "/kt4500-sim", workDir, runs));
    }
    std::fprintf(stderr, "kt4500-bench: kt4500ctl read-cards against kt4500-sim ...\n");
    for (Figure &f :
         kt::bench::measureCtlFigures(binDir + "/kt4500ctl", binDir + "/kt4500-sim", workDir, runs))
        figures.push_back(std::move(f));

    std::vector<kt::bench::StartSubject> subjects{{"kt4500-config", binDir + "/kt4500-config", {}}};
    subjects.insert(subjects.end(), options->peers.begin(), options->peers.end());
    if (options->display.empty()) {
        for (auto &subject : subjects) {
            subject.path.clear();
            subject.missing = "no X display given (--display)";
        }
    }
    std::fprintf(stderr, "kt4500-bench: starting the programs on %s ...\n",
                 options->display.empty() ? "no display" : options->display.c_str());
    for (Figure &f : kt::bench::measureStartFigures(options->display, workDir, subjects, runs))
        figures.push_back(std::move(f));

    std::error_code ignored;
    fs::remove_all(workDir, ignored);
    if (g_log != nullptr)
        std::fclose(g_log);

    std::fputs(kt::bench::formatReport(run, figures).c_str(), stdout);
    if (!options->json.empty()) {
        std::ofstream json(options->json);
        json << kt::bench::formatJson(run, figures);
        if (!json)
            std::fprintf(stderr, "kt4500-bench: cannot write %s\n", options->json.c_str());
    }
    return 0;
}

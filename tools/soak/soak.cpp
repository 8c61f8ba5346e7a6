// kt4500-soak: a long run of the tool's own serial link against kt4500-sim, with a share of
// the simulator's replies damaged at random. It checks that every damaged reply is counted
// as exactly one failed transaction (and no good one is lost), that no transaction hangs,
// and that memory stays flat, and prints the figures.
//
//   kt4500-soak [--transactions N] [--percent P] [--seed N] [--sim PATH]

#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "sim_process.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <utility>

namespace
{

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 3;
constexpr int kWarmUp = 100;
// A transaction that takes longer than this has hung: the reply window is 120 ms.
constexpr long kLongestAllowedMs = 1000;
// Growth of the resident size that still counts as flat.
constexpr long kFlatKiB = 1024;

struct Options {
    int transactions = 10000;
    int percent = 1;
    unsigned seed = 4500;
    std::string sim;
};

struct Query {
    std::string_view command;
    int replyLength; // what the simulator answers, LF to CR
};
// The queries the tool makes, with a card in front of the reader.
constexpr std::array<Query, 4> kQueries = {
    {{"A00B", 16}, {"A00V", 16}, {"A00A", 11}, {"A00F", 17}}};

std::optional<long> number(std::string_view text)
{
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string besideThisProgram(const char *name)
{
    std::error_code error;
    const auto self = fs::read_symlink("/proc/self/exe", error);
    return (error ? fs::path(".") : self.parent_path()) / name;
}

std::optional<Options> parseOptions(int argc, char **argv)
{
    Options options;
    options.sim = besideThisProgram("kt4500-sim");
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string_view value = argv[++i];
        const auto n = number(value);
        if (arg == "--transactions" && n && *n > kWarmUp && *n <= 10'000'000)
            options.transactions = static_cast<int>(*n);
        else if (arg == "--percent" && n && *n >= 0 && *n <= 100)
            options.percent = static_cast<int>(*n);
        else if (arg == "--seed" && n && *n >= 0 && *n <= 0xFFFFFFFFL)
            options.seed = static_cast<unsigned>(*n);
        else if (arg == "--sim")
            options.sim = std::string(value);
        else
            return std::nullopt;
    }
    return options;
}

// The resident size of this process in KiB, from /proc/self/status.
long residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The replies the simulator reports it damaged.
int damagedReplies(const kt::sim::SimProcess &sim)
{
    std::ifstream log(sim.logPath());
    int count = 0;
    for (std::string line; std::getline(log, line);)
        count += line.find("reply damaged") != std::string::npos ? 1 : 0;
    return count;
}

struct Figures {
    int failed = 0;
    int wrongLength = 0;
    long longestMs = 0;
    long residentAfterWarmUpKiB = 0;
};

Figures run(const Options &options, kt::link::ReaderLink &link)
{
    Figures figures;
    for (int i = 0; i < options.transactions; ++i) {
        if (i == kWarmUp)
            figures.residentAfterWarmUpKiB = residentKiB();
        const Query &query = kQueries[static_cast<std::size_t>(i) % kQueries.size()];
        const auto start = Clock::now();
        const bool ok = link.transact(query.command);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        figures.longestMs = std::max<long>(figures.longestMs, static_cast<long>(ms));
        if (!ok)
            ++figures.failed;
        else if (link.replyLength() != query.replyLength)
            ++figures.wrongLength;
        if ((i + 1) % 1000 == 0)
            std::fprintf(stderr, "soak: %d transactions, %d failed\n", i + 1, figures.failed);
    }
    return figures;
}

int soak(const Options &options)
{
    const long residentAtStart = residentKiB();
    std::string dir = (fs::temp_directory_path() / "kt4500-soak.XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        std::fprintf(stderr, "soak: cannot create a folder: %s\n", std::strerror(errno));
        return 1;
    }
    int status = 1;
    {
        kt::sim::SimOptions simOptions;
        simOptions.args = {"--seed", std::to_string(options.seed)};
        simOptions.binary = options.sim;
        simOptions.dir = dir;
        kt::sim::SimProcess sim(std::move(simOptions));
        if (!sim.isRunning()) {
            std::fprintf(stderr, "soak: %s did not start\n", options.sim.c_str());
        } else if (sim.command("card 00BC614E") != "ok card 00BC614E"
                   || sim.command("corrupt " + std::to_string(options.percent)).rfind("ok", 0)
                          != 0) {
            std::fprintf(stderr, "soak: the simulator refused its set-up\n");
        } else {
            kt::link::PosixSerialDevice device({dir + "/ports", dir + "/no-etc-ports", dir});
            kt::link::ReaderLink link(device, kt::link::systemClock());
            if (!link.openPort(kPort, "19200,e,8,1")) {
                std::fprintf(stderr, "soak: the simulator's port does not open\n");
            } else {
                const auto wallStart = Clock::now();
                const double cpuStart = cpuSeconds();
                const Figures f = run(options, link);
                const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
                const double cpu = cpuSeconds() - cpuStart;
                const long residentAtEnd = residentKiB();
                link.closePort();
                const int damaged = damagedReplies(sim);

                const bool counted = f.failed == damaged && f.wrongLength == 0;
                const bool flat = residentAtEnd - f.residentAfterWarmUpKiB <= kFlatKiB;
                const bool noHang = f.longestMs <= kLongestAllowedMs;
                std::printf("soak: %d transactions, %d %% of the replies damaged at random "
                            "(seed %u)\n",
                            options.transactions, options.percent, options.seed);
                std::printf("  damaged replies (the simulator's count)  %d\n", damaged);
                std::printf("  failed transactions                      %d\n", f.failed);
                std::printf("  accepted with a wrong length             %d\n", f.wrongLength);
                std::printf("  longest transaction                      %ld ms\n", f.longestMs);
                std::printf("  wall time, CPU time                      %.1f s, %.1f s\n", wall,
                            cpu);
                std::printf("  resident size: start, after %d, end      %ld, %ld, %ld KiB\n",
                            kWarmUp, residentAtStart, f.residentAfterWarmUpKiB, residentAtEnd);
                std::printf("soak: %s%s%s%s\n", counted && flat && noHang ? "ok" : "FAILED",
                            counted ? "" : ": failures and damaged replies differ",
                            flat ? "" : ": memory grew", noHang ? "" : ": a transaction hung");
                status = counted && flat && noHang ? 0 : 1;
            }
        }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    constexpr const char *kUsage =
        "usage: kt4500-soak [--transactions N] [--percent P] [--seed N] [--sim PATH]\n";
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        return soak(*options);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "soak: %s\n", e.what());
        return 1;
    }
}

// kt4500ctl provision on the bench: from a reader's first answer to its report row, with the
// real serial layer and kt4500-sim playing a box of readers on a pseudo-terminal.

#include "figures.h"
#include "link/commands.h"
#include "link/frame.h"
#include "link/line_table.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "provision_bench.h"
#include "settings/app_settings.h"
#include "sim_process.h"

#include <chrono>
#include <cstdio>
#include <map>

namespace kt::bench
{

namespace
{

using SteadyClock = std::chrono::steady_clock;

constexpr int kSimPort = 3;
// The simulator starts at the factory line settings.
constexpr int kSimLineIndex = link::kFactoryLineSettingsIndex;

// What a reader costs by the program's own constants and at 19200 baud: three pauses of
// 100 ms between the four exchanges of a scan's read and of the set ID (two each), a frame
// pacing of 9 ms (1 ms after each of four single bytes, 5 ms after the block), and each byte
// 11 bits (8 data, even parity, start and stop) each way.
constexpr double kPauseMs = 100.0;
constexpr double kPacingMs = 9.0;
constexpr double kByteMsAt19200 = 11.0 * 1000.0 / 19200.0;
constexpr double kIdentityReplyBytes = 16, kVersionReplyBytes = 16, kModeReplyBytes = 11,
                 kAckBytes = 6;

double readerFloorMs()
{
    const auto frame = [](std::string_view command) {
        return static_cast<double>(link::commandFrame(command).size());
    };
    // The read and the read-back: identity, version, mode, with their two pauses.
    const double scanBytes = frame(link::kIdentityQuery) + kIdentityReplyBytes
                             + frame(link::kVersionQuery) + kVersionReplyBytes
                             + frame(link::kModeQuery) + kModeReplyBytes;
    const double scanMs = 3 * kPacingMs + 2 * kPauseMs + scanBytes * kByteMsAt19200;
    // The set ID: a pause, the identity query, a pause, the set command.
    const double setBytes = frame(link::kIdentityQuery) + kIdentityReplyBytes
                            + frame(link::setIdCommand("12345678", "01")) + kAckBytes;
    const double setMs = 2 * kPacingMs + 2 * kPauseMs + setBytes * kByteMsAt19200;
    return 2 * scanMs + setMs;
}

// The time each serial number first answered a probe.
class TimedBench final : public cli::Bench
{
public:
    explicit TimedBench(cli::Bench &inner)
        : m_inner(inner)
    {
    }
    std::optional<std::string> probe(int lineIndex) override
    {
        std::optional<std::string> serial = m_inner.probe(lineIndex);
        if (serial && !firstAnswer.contains(*serial))
            firstAnswer[*serial] = SteadyClock::now();
        return serial;
    }
    std::optional<cli::ReaderRead> read(int i) override { return m_inner.read(i); }
    bool setId(int i, int id) override { return m_inner.setId(i, id); }
    bool setMode(int i, const std::array<int, 3> &m) override { return m_inner.setMode(i, m); }
    bool setLineSettings(int i, int n) override { return m_inner.setLineSettings(i, n); }
    void pause(std::uint32_t ms) override { m_inner.pause(ms); }
    bool interrupted() override { return m_inner.interrupted(); }

    std::map<std::string, SteadyClock::time_point> firstAnswer;

private:
    cli::Bench &m_inner;
};

} // namespace

Figure measureProvisionFigure(const std::string &simBinary, const std::string &workDir,
                              const RunCounts &runs)
{
    const double floor = readerFloorMs();
    Figure figure;
    figure.name = "provision: a reader's first answer to its report row";
    figure.unit = "ms";
    figure.floor = floor;
    char goal[64];
    std::snprintf(goal, sizeof goal, "median <= %.1f (1.2 x floor)", 1.2 * floor);
    figure.goal = goal;
    if (runs.provisionedReaders <= 0) {
        figure.note = "not run";
        return figure;
    }
    kt::sim::SimOptions options;
    options.binary = simBinary;
    options.dir = workDir + "/provision";
    kt::sim::SimProcess sim(options);
    if (!sim.isRunning()) {
        figure.note = "kt4500-sim did not start";
        return figure;
    }
    link::PosixSerialDevice device(link::PosixSerialDevice::Folders{sim.portDir()});
    link::ReaderLink link(device, link::systemClock());
    settings::AppSettings settings{kSimPort, std::string(link::kLineSettings[kSimLineIndex].text),
                                   kSimLineIndex, "English"};
    ops::ReaderState state;
    cli::TerminalView view;
    ops::Context ctx{link, view, settings, state};
    cli::OpsBench ops(ctx, view, {}, [] { return false; });
    TimedBench bench(ops);

    const int readers = std::min(runs.provisionedReaders, 99);
    const auto serialOf = [](int n) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "B%07d", n);
        return std::string(serial);
    };
    sim.command("unplug");
    sim.command("plug " + serialOf(1));
    int done = 0;
    cli::Provisioner::Events events;
    events.readerDone = [&](const cli::ReaderResult &result) {
        const auto at = bench.firstAnswer.find(result.serial);
        if (result.outcome == cli::ReaderResult::Outcome::Ok && at != bench.firstAnswer.end())
            figure.samples.push_back(
                std::chrono::duration<double, std::milli>(SteadyClock::now() - at->second).count());
        // The next reader out of the box, swapped in at once.
        if (++done < readers) {
            sim.command("unplug");
            sim.command("plug " + serialOf(done + 1));
        }
    };
    cli::ProvisionPlan plan;
    plan.ids = {1, readers};
    plan.port = kSimPort;
    plan.lineIndices = {kSimLineIndex};
    cli::Provisioner provisioner(bench, plan, events);
    provisioner.run({});
    figure.met = !figure.samples.empty() && figure.median() <= 1.2 * floor;
    if (static_cast<int>(figure.samples.size()) < readers)
        figure.note = std::to_string(readers - static_cast<int>(figure.samples.size()))
                      + " readers did not end ok";
    else
        figure.note = "the pseudo-terminal has no line time: the floor's byte times are not spent";
    return figure;
}

} // namespace kt::bench

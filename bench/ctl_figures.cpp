// kt4500ctl read-cards with no card on the reader: how often its thread wakes and how much of
// a core it uses, measured from outside while it runs against kt4500-sim.

#include "base/posix/child_process.h"
#include "figures.h"
#include "probes.h"
#include "sim_process.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kt::bench
{

namespace
{

// The frame's pacing and the pause before each poll: the shortest poll period.
constexpr double kPollFloorMs = 80.0 + 9.0;
// The 80 ms pause, the four single bytes and the block of the frame, and the reply.
constexpr double kWakeupsPerPoll = 7.0;
constexpr double kBlinksPerSecond = 1000.0 / 200.0;
// The scan that read-cards starts with is over by then.
constexpr auto kSettleTime = std::chrono::seconds(2);

// kt4500ctl with its output dropped, in an environment that finds only the simulator.
pid_t startCtl(const std::string &ctlBinary, const std::vector<std::string> &args,
               const std::vector<std::string> &environment)
{
    return base::startChild(
        {.program = ctlBinary,
         .args = args,
         .environment = base::environmentWith(environment),
         .redirects = {base::Redirect::open(STDOUT_FILENO, "/dev/null", O_WRONLY),
                       base::Redirect::open(STDERR_FILENO, "/dev/null", O_WRONLY)}});
}

} // namespace

double idleCardLoopWakeupsFloor(bool window)
{
    return kWakeupsPerPoll * 1000.0 / kPollFloorMs + (window ? kBlinksPerSecond : 0.0);
}

std::vector<Figure> measureCtlFigures(const std::string &ctlBinary, const std::string &simBinary,
                                      const std::string &workDir, const RunCounts &runs)
{
    Figure wakeups = figureOf("kt4500ctl read-cards, no card: wake-ups of its thread", "/s",
                              idleCardLoopWakeupsFloor(false), "median <= 150");
    Figure cpu =
        figureOf("kt4500ctl read-cards, no card: processor use", "%", 0.0, "median <= 0.5");
    const auto missing = [&](const std::string &why) {
        wakeups.note = why;
        cpu.note = why;
        return std::vector<Figure>{wakeups, cpu};
    };
    if (runs.wakeSeconds == 0)
        return missing("not run this time");
    if (!std::filesystem::exists(ctlBinary))
        return missing(ctlBinary + " is missing");

    kt::sim::SimOptions options;
    options.binary = simBinary;
    options.dir = workDir + "/ctl-sim";
    kt::sim::SimProcess sim(options);
    if (!sim.isRunning())
        return missing("kt4500-sim did not start");
    sim.command("nocard");
    // It ends by itself a second after the last sample.
    const double seconds =
        std::chrono::duration<double>(kSettleTime).count() + runs.wakeSeconds + 1;
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.0f", seconds);
    const pid_t pid = startCtl(
        ctlBinary, {"read-cards", "--port", "3", "--line-settings", "5", "--seconds", duration},
        {"KT4500_PORT_DIR=" + sim.portDir(), "KT4500_SETTINGS=" + workDir + "/ctl.reg"});
    if (pid < 0)
        return missing("kt4500ctl did not start");

    std::this_thread::sleep_for(kSettleTime);
    std::vector<ThreadSample> samples{sampleThread(pid, pid)};
    for (int i = 0; i < runs.wakeSeconds; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        samples.push_back(sampleThread(pid, pid));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);

    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i].switches < 0 || samples[i - 1].switches < 0)
            continue;
        wakeups.samples.push_back(wakeupsPerSecond(samples[i - 1], samples[i]));
        cpu.samples.push_back(threadPercent(samples[i - 1], samples[i]));
    }
    if (wakeups.samples.empty())
        return missing("kt4500ctl ended before it was measured");
    if (const int exitStatus = base::exitStatusOf(status); exitStatus != 0)
        wakeups.note =
            "kt4500ctl ended with status " + std::to_string(exitStatus) + " (no reader found?)";
    wakeups.met = wakeups.median() <= 150.0;
    cpu.met = cpu.median() <= 0.5;
    return {wakeups, cpu};
}

} // namespace kt::bench

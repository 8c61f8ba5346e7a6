#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kt::sim
{

using namespace std::chrono_literals;

// How a SimProcess starts kt4500-sim.
struct SimOptions {
    // Given after --link and --log, e.g. {"--seed", "7"}. (First, so that a braced list of
    // arguments never reads as options.)
    std::vector<std::string> args;
    // The program; empty: the kt4500-sim built with this project.
    std::string binary;
    std::string portName = "COM3";
    // The folder for the link and the log; created when missing and left in place. Empty: a
    // temporary folder of its own, removed with it.
    std::string dir;
    // Called with portDir() before the simulator starts.
    std::function<void(const std::string &)> prepare;
};

// kt4500-sim as a child process talked to through its standard input and output: its link is
// DIR/ports/<portName> (so KT4500_PORT_DIR=portDir() makes it that port number), its log
// DIR/sim.log. The constructor returns once the link is in place (or the simulator failed: see
// isRunning()); the destructor stops it and removes a folder of its own.
class SimProcess
{
public:
    explicit SimProcess(SimOptions options);
    explicit SimProcess(std::vector<std::string> extraArgs = {}, std::string portName = "COM3",
                        std::function<void(const std::string &)> prepare = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    bool isRunning() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    const std::string &dir() const { return m_dir; }
    std::string portDir() const { return m_dir + "/ports"; }
    const std::string &linkPath() const { return m_link; }
    // The terminal behind the link (/dev/pts/N); empty when the link cannot be read.
    std::string devicePath() const;
    std::string logPath() const { return m_dir + "/sim.log"; }

    // Sends one line to the simulator's standard input and returns its one-line answer,
    // empty when none came within the timeout.
    std::string command(std::string_view line, std::chrono::milliseconds timeout = 10s);

    // The log as written so far.
    std::string log() const;
    // Waits until the log holds the text; false when it did not within the timeout.
    bool waitForLog(std::string_view text, std::chrono::milliseconds timeout = 10s) const;

    // Stops the simulator by "quit" (or by the signal) and returns its exit status; -1 when it
    // had to be killed or was not running.
    int stop();
    int stopBySignal(int signal);

private:
    std::string readLine(std::chrono::milliseconds timeout);
    int waitForExit(std::chrono::milliseconds timeout);

    std::string m_dir;
    bool m_ownsDir = false;
    std::string m_link;
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_pendingOutput;
};

struct SimRun {
    int exitStatus = -1; // -1: did not end by itself in time
    std::string output;  // standard output and standard error together
};

// Runs the kt4500-sim built with this project with the arguments until it ends (standard
// input empty) and collects what it printed.
SimRun runSim(const std::vector<std::string> &args, std::chrono::milliseconds timeout = 10s);

} // namespace kt::sim

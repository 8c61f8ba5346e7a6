#pragma once

// kt4500ctl as a child process: its standard output and standard error collected apart, lines
// of its output waited for, signals sent, its exit status taken.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kt::test
{

using namespace std::chrono_literals;

// Where the program's standard output goes: collected, a full disk, or a pipe whose reader
// has gone.
enum class Stdout { Collected, DevFull, ClosedPipe };

struct CtlOptions {
    std::map<std::string, std::string> environment; // set on top of this process's own
    std::optional<uid_t> user;                      // run as this user (needs root)
    Stdout stdoutTo = Stdout::Collected;
    int closedDescriptor = -1; // 0, 1 or 2: started with it closed
};

class CtlProcess
{
public:
    CtlProcess(const std::vector<std::string> &args, const CtlOptions &options = {});
    ~CtlProcess();
    CtlProcess(const CtlProcess &) = delete;
    CtlProcess &operator=(const CtlProcess &) = delete;

    bool isRunning() const { return m_pid > 0; }

    // Waits until standard output holds at least n lines; false when it did not in time.
    bool waitForLines(std::size_t n, std::chrono::milliseconds timeout = 20s);
    void signal(int signal);
    // The exit status, 128 + N for a signal N; -1 when it did not end in time (then killed).
    int wait(std::chrono::milliseconds timeout = 60s);

    const std::string &out() const { return m_out; }
    const std::string &err() const { return m_err; }
    std::vector<std::string> outLines() const;

private:
    // Reads what is there until the deadline; false once both streams have ended.
    bool collect(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::string m_out;
    std::string m_err;
};

struct CtlRun {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> lines;
};

// Runs kt4500ctl to its end.
CtlRun runCtl(const std::vector<std::string> &args, const CtlOptions &options = {});

} // namespace kt::test

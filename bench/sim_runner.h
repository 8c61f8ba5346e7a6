#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kt::bench
{

// kt4500-sim on a pseudo-terminal, its link at linkPath, its log in logPath. The constructor
// returns once the link is in place or the simulator failed (isRunning() then says so); the
// destructor stops it.
class SimRunner
{
public:
    SimRunner(const std::string &simBinary, std::string linkPath, const std::string &logPath,
              const std::vector<std::string> &extraArgs = {});
    ~SimRunner();
    SimRunner(const SimRunner &) = delete;
    SimRunner &operator=(const SimRunner &) = delete;

    bool isRunning() const { return m_pid > 0; }
    // The terminal device behind the link (/dev/pts/N); empty when it cannot be read.
    std::string devicePath() const;
    // One console line; returns the simulator's one-line answer, empty when none came.
    std::string command(std::string_view line,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void stop();

private:
    std::string readLine(std::chrono::milliseconds timeout);

    std::string m_link;
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_pending;
};

} // namespace kt::bench

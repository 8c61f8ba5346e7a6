#include "probes.h"

#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace kt::bench
{

ThreadSample sampleThread(int pid, int tid)
{
    if (pid == 0)
        pid = static_cast<int>(::getpid());
    if (tid == 0)
        tid = pid;
    const std::string task = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid);
    ThreadSample sample;
    std::ifstream status(task + "/status");
    long long total = 0;
    int found = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("voluntary_ctxt_switches:")
            || line.starts_with("nonvoluntary_ctxt_switches:")) {
            total += std::stoll(line.substr(line.find(':') + 1));
            ++found;
        }
    }
    if (found == 2)
        sample.switches = total;
    // The first field is the time run on a processor, in nanoseconds.
    std::ifstream schedstat(task + "/schedstat");
    long long runNs = 0;
    if (schedstat >> runNs)
        sample.runSeconds = static_cast<double>(runNs) / 1e9;
    return sample;
}

double wakeupsPerSecond(const ThreadSample &from, const ThreadSample &to)
{
    const double seconds = msBetween(from.at, to.at) / 1000.0;
    return static_cast<double>(to.switches - from.switches) / seconds;
}

double threadPercent(const ThreadSample &from, const ThreadSample &to)
{
    const double seconds = msBetween(from.at, to.at) / 1000.0;
    return 100.0 * (to.runSeconds - from.runSeconds) / seconds;
}

double msBetween(SteadyClock::time_point from, SteadyClock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double processorSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ProcessorSpan::percent() const
{
    const double cpu = processorSeconds() - cpuStart;
    const double wallMs = msBetween(wallStart, SteadyClock::now());
    return wallMs > 0.0 ? 100.0 * cpu * 1000.0 / wallMs : 0.0;
}

bool RecordingDevice::write(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() == 1 && bytes[0] == 0x09 && !m_expectCommand) {
        m_frames.push_back({SteadyClock::now(), processorSeconds(), {}});
        m_expectCommand = true;
    } else if (m_expectCommand) {
        m_expectCommand = false;
        m_frames.back().command.assign(bytes.begin(), bytes.end());
        if (m_onFrame)
            m_onFrame(m_frames.back());
    }
    return m_device.write(bytes);
}

void RecordingBeeper::beep(int frequencyHz, int durationMs)
{
    Tone tone{SteadyClock::now(), {}, frequencyHz, durationMs};
    m_beeper.beep(frequencyHz, durationMs);
    tone.end = SteadyClock::now();
    m_tones.push_back(tone);
}

} // namespace kt::bench

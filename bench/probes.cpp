#include "probes.h"

#include <sys/resource.h>

namespace kt::bench
{

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

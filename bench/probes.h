#pragma once

// Measuring points put between the program's layers: they pass every call through unchanged
// and note when it happened.

#include "app/beeper.h"
#include "link/serial_device.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kt::bench
{

using SteadyClock = std::chrono::steady_clock;

double msBetween(SteadyClock::time_point from, SteadyClock::time_point to);

// Processor time of this process (user and system, every thread), in seconds.
double processorSeconds();

// One thread's count of context switches (each time it went to sleep or was put aside: its
// wake-ups) and the processor time it has run, both from /proc. pid 0: this process.
struct ThreadSample {
    SteadyClock::time_point at = SteadyClock::now();
    long long switches = -1; // -1: not readable
    double runSeconds = 0.0;
};
ThreadSample sampleThread(int pid = 0, int tid = 0);
// Wake-ups per second and percent of one core between two samples of the same thread.
double wakeupsPerSecond(const ThreadSample &from, const ThreadSample &to);
double threadPercent(const ThreadSample &from, const ThreadSample &to);

// The share of one core used between two readings of the wall clock and processorSeconds().
struct ProcessorSpan {
    SteadyClock::time_point wallStart = SteadyClock::now();
    double cpuStart = processorSeconds();
    // Percent of one core since the start.
    double percent() const;
};

// The serial device of the program, with the start of every command frame noted: a frame
// starts with its single TAB byte, and its command text is the block written next.
class RecordingDevice final : public link::SerialDevice
{
public:
    struct Frame {
        SteadyClock::time_point start;
        double cpuAtStart = 0.0; // processorSeconds() then
        std::string command;
    };

    explicit RecordingDevice(link::SerialDevice &device)
        : m_device(device)
    {
    }

    bool open(int portNumber, std::string_view lineSettings) override
    {
        m_opens.push_back(SteadyClock::now());
        return m_device.open(portNumber, lineSettings);
    }
    void close() override { m_device.close(); }
    bool isOpen() const override { return m_device.isOpen(); }
    bool write(std::span<const std::uint8_t> bytes) override;
    link::ReadResult readByte(std::uint8_t &byte) override { return m_device.readByte(byte); }
    link::ReadResult readWaitingByte(std::uint8_t &byte) override
    {
        return m_device.readWaitingByte(byte);
    }
    std::optional<int> readableDescriptor() const override { return m_device.readableDescriptor(); }
    void discardInput() override { m_device.discardInput(); }
    const link::OpenError &openError() const override { return m_device.openError(); }

    const std::vector<Frame> &frames() const { return m_frames; }
    // When each open was asked for.
    const std::vector<SteadyClock::time_point> &opens() const { return m_opens; }
    void clear()
    {
        m_frames.clear();
        m_opens.clear();
    }
    // Called with each frame once its command text has been written.
    void onFrame(std::function<void(const Frame &)> callback) { m_onFrame = std::move(callback); }

private:
    link::SerialDevice &m_device;
    std::vector<Frame> m_frames;
    std::vector<SteadyClock::time_point> m_opens;
    bool m_expectCommand = false;
    std::function<void(const Frame &)> m_onFrame;
};

// The program's beeper, with the start and end of every tone noted.
class RecordingBeeper final : public app::Beeper
{
public:
    struct Tone {
        SteadyClock::time_point start;
        SteadyClock::time_point end;
        int frequencyHz = 0;
        int durationMs = 0;
    };

    explicit RecordingBeeper(app::Beeper &beeper)
        : m_beeper(beeper)
    {
    }

    void beep(int frequencyHz, int durationMs) override;

    const std::vector<Tone> &tones() const { return m_tones; }
    void clear() { m_tones.clear(); }

private:
    app::Beeper &m_beeper;
    std::vector<Tone> m_tones;
};

} // namespace kt::bench

#pragma once

#include "app/beeper.h"
#include "link/clock.h"
#include "link/serial_device.h"
#include "settings/settings_store.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kt::test
{

// A machine without serial ports: every open fails.
class NoPortDevice : public link::SerialDevice
{
public:
    bool open(int, std::string_view) override { return false; }
    void close() override {}
    bool isOpen() const override { return false; }
    bool write(std::span<const std::uint8_t>) override { return false; }
    link::ReadResult readByte(std::uint8_t &) override { return link::ReadResult::Failed; }
};

// Time moves only when someone sleeps or looks at it, so nothing ever waits.
class SteppingClock : public link::Clock
{
public:
    std::uint32_t nowMs() override { return m_now++; }
    void sleepMs(std::uint32_t ms) override { m_now += ms; }

private:
    std::uint32_t m_now = 0;
};

// The settings key in memory; nullopt: no key until the first save.
class MemoryStore : public settings::SettingsStore
{
public:
    explicit MemoryStore(std::optional<settings::KeyValues> values)
        : key(std::move(values))
    {
    }

    std::optional<settings::KeyValues> load() override { return key; }
    settings::SaveResult
    save(const std::vector<std::pair<std::string, settings::Value>> &values) override
    {
        ++saves;
        for (const auto &[name, value] : values)
            (key ? *key : key.emplace())[name] = value;
        return settings::SaveResult::ok();
    }
    std::string text(const std::string &name) const
    {
        return key && key->contains(name) ? key->at(name).text : "<missing>";
    }

    std::optional<settings::KeyValues> key;
    int saves = 0;
};

// Records each tone instead of sounding it, and returns at once.
class RecordingBeeper : public app::Beeper
{
public:
    void beep(int frequencyHz, int durationMs) override
    {
        tones.emplace_back(frequencyHz, durationMs);
    }

    std::vector<std::pair<int, int>> tones;
};

} // namespace kt::test

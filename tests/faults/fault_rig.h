#pragma once

// What the fault tests share: a serial device that lets a test act at an exact point of the
// exchange, a way to run a piece of the tool as an unprivileged user, and (from temp_dir.h)
// small file helpers.

#include "fake_view.h"
#include "link/serial_device.h"
#include "log/log.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"
#include "temp_dir.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kt::test
{

// Forwards to a real device. The nth write whose bytes hold the trigger text runs the hook
// before it goes out, so a fault can strike between two given bytes of a command frame.
class TappedDevice final : public link::SerialDevice
{
public:
    explicit TappedDevice(link::SerialDevice &device)
        : m_device(device)
    {
    }

    void onWrite(std::string trigger, std::function<void()> hook, int nth = 1)
    {
        m_trigger = std::move(trigger);
        m_hook = std::move(hook);
        m_countdown = nth;
    }

    bool open(int portNumber, std::string_view lineSettings) override
    {
        return m_device.open(portNumber, lineSettings);
    }
    void close() override { m_device.close(); }
    bool isOpen() const override { return m_device.isOpen(); }
    bool write(std::span<const std::uint8_t> bytes) override
    {
        const std::string_view text(reinterpret_cast<const char *>(bytes.data()), bytes.size());
        if (m_hook && text.find(m_trigger) != std::string_view::npos && --m_countdown == 0)
            std::exchange(m_hook, {})();
        return m_device.write(bytes);
    }
    link::ReadResult readByte(std::uint8_t &byte) override { return m_device.readByte(byte); }
    link::ReadResult readWaitingByte(std::uint8_t &byte) override
    {
        return m_device.readWaitingByte(byte);
    }
    std::optional<int> readableDescriptor() const override { return m_device.readableDescriptor(); }
    void discardInput() override { m_device.discardInput(); }
    const link::OpenError &openError() const override { return m_device.openError(); }

private:
    link::SerialDevice &m_device;
    std::string m_trigger;
    std::function<void()> m_hook;
    int m_countdown = 0;
};

// Info and warning lines of the tool's log while it lives, e.g. "kt4500.link: COM3 ...: busy".
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::vector<std::string> lines() const;
    bool contains(std::string_view text) const;

private:
    log::Sink m_previous;
};

struct ChildResult {
    bool ranUnprivileged = false; // as nobody (65534), or as the non-root user running us
    int exitStatus = -1;
    std::string output; // what the child's body returned
};

// Runs body in a child process that has dropped root for the user and group nobody (when the
// tests run as root, as CI does); the child returns what body returns.
ChildResult runUnprivileged(const std::function<std::string()> &body);

} // namespace kt::test

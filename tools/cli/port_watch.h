#pragma once

// The serial device as kt4500ctl hands it to the link: it remembers why opens failed, so that
// the program can say so where the window says nothing, and it can keep the reader operations
// to one port or away from every port.

#include "link/serial_device.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kt::cli
{

using OpenFailure = link::OpenError;

// The message for standard error: it names the port and its device, for a port that is not
// permitted also the dialout group, for a busy one that another program holds it.
std::string describeFailure(const OpenFailure &failure);

class PortWatch final : public link::SerialDevice
{
public:
    explicit PortWatch(link::SerialDevice &device);

    // Only this port opens (others fail without a trace); nullopt: every port.
    void pinTo(std::optional<int> port) { m_pinned = port; }
    // From now on no port opens: an interrupted run ends its operation without the reader.
    void refuseOpens() { m_refusing = true; }

    const std::vector<OpenFailure> &failures() const { return m_failures; }
    // The ports that hung up while held, each once, in the order it happened.
    const std::vector<int> &hangUps() const { return m_hangUps; }
    // Called once for each other process found with a port open that opened here: the
    // warning the user must see, "COM3 is also open in socat (process 4711); ...".
    void setWarn(std::function<void(const std::string &line)> warn) { m_warn = std::move(warn); }

    // readBack is asked right after each successful open for the line settings in force.
    void setReadBack(std::function<std::string()> readBack) { m_readBack = std::move(readBack); }
    // What readBack said at the last successful open; empty before one, or without readBack.
    const std::string &lineSettingsInForce() const { return m_lineSettingsInForce; }

    [[nodiscard]] bool open(int portNumber, std::string_view lineSettings) override;
    void close() override { m_device.close(); }
    [[nodiscard]] bool isOpen() const override { return m_device.isOpen(); }
    bool write(std::span<const std::uint8_t> bytes) override { return m_device.write(bytes); }
    link::ReadResult readByte(std::uint8_t &byte) override;
    link::ReadResult readWaitingByte(std::uint8_t &byte) override;
    std::optional<int> readableDescriptor() const override { return m_device.readableDescriptor(); }
    void discardInput() override { m_device.discardInput(); }
    const std::vector<link::OtherOpener> &alsoOpenIn() const override
    {
        return m_device.alsoOpenIn();
    }

private:
    // Notes a hang-up of the open port, once, for standard error.
    link::ReadResult noted(link::ReadResult result);

    link::SerialDevice &m_device;
    std::optional<int> m_pinned;
    bool m_refusing = false;
    std::vector<OpenFailure> m_failures;
    std::function<std::string()> m_readBack;
    std::string m_lineSettingsInForce;
    int m_openPort = 0;
    std::vector<int> m_hangUps;
    std::function<void(const std::string &)> m_warn;
    std::vector<std::pair<int, int>> m_warned; // port and process already named
};

} // namespace kt::cli

#pragma once

// A serial device with many ports. Each port exists or not, is held by another program or
// not, and may have a scripted reader behind it: a function of (port, line settings, command
// text) that answers with reply bytes, silence or a hang-up. Every open, close and command
// frame received is recorded, also into an event list shared with a FakeView when one is set,
// so that a test sees the window's calls and the line's traffic in one order.

#include "fake_clock.h"
#include "link/frame.h"
#include "link/serial_device.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt::test
{

struct Answer {
    enum class Kind { Bytes, Silence, HangUp };
    Kind kind = Kind::Silence;
    std::string bytes;

    static Answer reply(std::string_view body) { return {Kind::Bytes, link::replyFrame(body)}; }
    static Answer raw(std::string bytes) { return {Kind::Bytes, std::move(bytes)}; }
    static Answer silence() { return {}; }
    static Answer hangUp() { return {Kind::HangUp, {}}; }
};

using ReaderScript =
    std::function<Answer(int port, const std::string &lineSettings, const std::string &command)>;

// Reply bodies laid out as the reader's replies: identity 12 bytes (16 with the frame),
// version and mode with their fields at position 6, card 13 bytes (17 with the frame).
inline std::string identityBody(std::string_view id, std::string_view serial)
{
    return "B" + std::string(id) + ":" + std::string(serial);
}
inline std::string versionBody(std::string_view version)
{
    return "V00:" + std::string(version);
}
inline std::string modeBody(std::string_view digits)
{
    return "A00:" + std::string(digits);
}
inline std::string cardBody(std::string_view hex)
{
    return "F0000" + std::string(hex);
}

// A reader that answers every command at one line setting, as the real one does.
struct ReaderModel {
    std::string lineSettings = "19200,e,8,1";
    std::string id = "05";
    std::string serial = "12345678";
    std::string version = "03.20-01";
    std::string mode = "001";

    Answer answer(const std::string &line, const std::string &command) const
    {
        if (line != lineSettings)
            return Answer::silence();
        if (command == "A00B")
            return Answer::reply(identityBody(id, serial));
        if (command == "A00V")
            return Answer::reply(versionBody(version));
        if (command == "A00A")
            return Answer::reply(modeBody(mode));
        return Answer::reply("K"); // acknowledgement of a set command
    }
    ReaderScript script() const
    {
        return [model = *this](int, const std::string &line, const std::string &command) {
            return model.answer(line, command);
        };
    }
};

class FakePortBank : public link::SerialDevice
{
public:
    // Empty reads advance the clock by 1 ms, as a real read waits; like the link's pacing
    // after a write, that wait is no event of its own.
    explicit FakePortBank(FakeClock &clock, std::vector<std::string> *sink = nullptr)
        : m_clock(clock)
        , m_sink(sink)
    {
    }

    // A port without a script exists and stays silent.
    void addPort(int port, ReaderScript reader = {}) { m_ports[port].reader = std::move(reader); }
    // A busy port fails to open with this reason; a port never added, with NoSuchDevice.
    void setBusy(int port, bool busy = true, link::PortError why = link::PortError::Busy)
    {
        m_ports[port].busy = busy;
        m_ports[port].why = why;
    }

    std::vector<std::string> log;
    std::vector<std::string> commands;      // every command text received, on any port
    int openPort() const { return m_open; } // 0 when closed

    bool open(int portNumber, std::string_view lineSettings) override
    {
        const auto port = m_ports.find(portNumber);
        const bool opened = m_open == 0 && port != m_ports.end() && !port->second.busy;
        record("open " + std::to_string(portNumber) + " " + std::string(lineSettings)
               + (opened ? "" : " failed"));
        if (opened) {
            m_open = portNumber;
            m_lineSettings = std::string(lineSettings);
            m_hungUp = false;
            clearOpenError();
        } else {
            const link::PortError why = m_open != 0             ? link::PortError::AlreadyOpen
                                        : port != m_ports.end() ? port->second.why
                                                                : link::PortError::NoSuchDevice;
            setOpenError({why,
                          portNumber,
                          "/dev/ttyUSB" + std::to_string(portNumber),
                          0,
                          {},
                          "fake open failure"});
        }
        return opened;
    }
    void close() override
    {
        record("close " + std::to_string(m_open));
        m_open = 0;
        m_input.clear();
        m_frame.clear();
    }
    bool isOpen() const override { return m_open != 0; }
    std::optional<int> readableDescriptor() const override
    {
        return m_open != 0 ? std::optional(1000 + m_open) : std::nullopt;
    }
    // Input and hang-ups come with the frame that causes them: readable at once or never.
    bool isReadable() const { return m_open != 0 && (m_hungUp || !m_input.empty()); }
    void discardInput() override { m_input.clear(); }
    bool write(std::span<const std::uint8_t> bytes) override
    {
        m_clock.pacedWrite();
        for (std::uint8_t b : bytes) {
            m_frame += static_cast<char>(b);
            if (b == link::kCr)
                frameReceived();
        }
        return m_open != 0;
    }
    link::ReadResult readByte(std::uint8_t &byte) override
    {
        if (m_hungUp)
            return link::ReadResult::Failed;
        if (m_input.empty()) {
            m_clock.advance(1);
            return link::ReadResult::Empty;
        }
        byte = static_cast<std::uint8_t>(m_input.front());
        m_input.pop_front();
        return link::ReadResult::Byte;
    }

private:
    struct Port {
        bool busy = false;
        link::PortError why = link::PortError::Busy;
        ReaderScript reader;
    };

    void record(std::string event)
    {
        if (m_sink)
            m_sink->push_back(event);
        log.push_back(std::move(event));
    }

    void frameReceived()
    {
        std::string frame;
        frame.swap(m_frame);
        const bool wellFormed = frame.size() >= 4 && frame.front() == static_cast<char>(link::kTab)
                                && link::commandFrame(frame.substr(1, frame.size() - 4)) == frame;
        if (!wellFormed) {
            record("bad frame on " + std::to_string(m_open));
            return;
        }
        const std::string command = frame.substr(1, frame.size() - 4);
        commands.push_back(command);
        record("send " + std::to_string(m_open) + " " + command);
        const Port &port = m_ports[m_open];
        if (!port.reader)
            return;
        const Answer answer = port.reader(m_open, m_lineSettings, command);
        if (answer.kind == Answer::Kind::HangUp)
            m_hungUp = true;
        m_input.insert(m_input.end(), answer.bytes.begin(), answer.bytes.end());
    }

    FakeClock &m_clock;
    std::vector<std::string> *m_sink;
    std::map<int, Port> m_ports;
    int m_open = 0;
    std::string m_lineSettings;
    std::string m_frame;
    std::deque<char> m_input;
    bool m_hungUp = false;
};

} // namespace kt::test

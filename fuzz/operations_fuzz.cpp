// The reader operations against a reader that answers anything at all: every button of the
// window is pressed in turn, each command frame gets the next reply of the input, and every
// operation must end with the window usable again and the port closed, whatever it read into
// the reader ID, serial number, version, mode and card fields.
//
// Input: replies separated by 0xFF. The first byte of a reply says how it goes on the line:
// bit 0 set, the rest is a reply body that gets its LF, right checksum and CR; clear, the rest
// goes as it is. Bits 1 to 7 delay it by 0 to 127 ms. Once the input is used up the reader
// is silent.

#include "fake_device.h"
#include "fake_wait.h"
#include "fuzz_support.h"
#include "link/frame.h"
#include "link/line_table.h"
#include "link/reader_link.h"
#include "ops/operations.h"
#include "ops/reader_view.h"
#include "settings/app_settings.h"
#include "text/text_table.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace
{

using kt::fuzz::require;
using namespace kt::ops;

constexpr char kSeparator = '\xFF';
// The card loop polls until a poll fails; a stop click in this many pauses between polls keeps
// a reader that answers every poll from running the input out slowly.
constexpr int kStopAfterPauses = 25;

// The window as the operations see it, keeping only what they may leave wrong.
class FuzzView final : public ReaderView
{
public:
    FuzzView(kt::test::FakeClock &clock, ReaderState &state)
        : m_clock(clock)
        , m_state(state)
    {
    }

    void setPanelText(Panel panel, std::string_view utf8) override
    {
        panels[static_cast<std::size_t>(panel)] = std::string(utf8);
    }
    std::string panelText(Panel panel) const override
    {
        return panels[static_cast<std::size_t>(panel)];
    }
    void setLamp(Lamp, Colour) override {}
    void selectItem(List list, int index) override
    {
        constexpr std::array<int, 4> kItems = {12, 2, 3, 3};
        const int items = kItems[static_cast<std::size_t>(list)];
        selections[static_cast<std::size_t>(list)] = index >= 0 && index < items ? index : -1;
    }
    int selectedIndex(List list) const override
    {
        return selections[static_cast<std::size_t>(list)];
    }
    void setIdPosition(int position) override
    {
        position = position < 1 ? 1 : position > 99 ? 99 : position;
        if (position == idPosition)
            return;
        idPosition = position;
        panels[static_cast<std::size_t>(Panel::ID)] =
            std::string(1, char('0' + position / 10)) + char('0' + position % 10);
    }
    bool isLockChecked() const override { return lockChecked; }
    void setWindowEnabled(bool enabled) override { windowEnabled = enabled; }
    void setControlEnabled(Control, bool) override {}
    std::string readCardCaption() const override { return caption; }
    void setReadCardCaption(std::string_view utf8) override { caption = std::string(utf8); }
    void busyMode(bool on) override
    {
        busy = on;
        windowEnabled = !on;
    }
    void startCardTimer() override {}
    void setCursor(Cursor cursor) override { hourglass = cursor == Cursor::Hourglass; }
    void beep(int, int durationMs) override
    {
        m_clock.advance(static_cast<std::uint32_t>(durationMs));
    }
    void pumpEvents() override {}
    // The stop click of the card loop, delivered during one of its pauses.
    void paused()
    {
        if (m_state.cardLoop == kt::ops::CardLoop::Running && ++m_loopPauses == kStopAfterPauses)
            m_state.cardLoop = kt::ops::CardLoop::Stopping;
    }

    std::array<std::string, 5> panels{"Start Scan Reader!", "S/N : ________", "VER : __.__-__",
                                      "__", "Card ID"};
    std::array<int, 4> selections{5, 0, 0, 1};
    int idPosition = 1;
    bool lockChecked = true;
    bool windowEnabled = true;
    bool busy = false;
    bool hourglass = false;
    std::string caption = "Read Card";

private:
    kt::test::FakeClock &m_clock;
    ReaderState &m_state;
    int m_loopPauses = 0;
};

void requireIdle(const FuzzView &view, const ReaderState &state, kt::link::SerialDevice &device)
{
    require(!device.isOpen(), "the port is closed after every operation");
    require(view.windowEnabled && !view.busy, "the window is usable after every operation");
    require(!view.hourglass, "the cursor is back after every operation");
    require(state.cardLoop == kt::ops::CardLoop::Idle, "no card loop runs afterwards");
    require(view.caption == "Read Card", "the card button has its caption back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    kt::fuzz::silenceLog();
    kt::text::setLanguage(
        kt::text::kLanguages[size > 0 ? data[0] % kt::text::kLanguages.size() : 0]);
    std::string_view replies = kt::fuzz::textOf(data, size);

    kt::test::FakeClock clock(0xFFFFF000u);
    kt::test::FakeDevice device(clock);
    device.onFrame([&](std::string_view) {
        if (replies.empty())
            return;
        const auto end = replies.find(kSeparator);
        std::string_view reply = replies.substr(0, end);
        replies.remove_prefix(end == std::string_view::npos ? replies.size() : end + 1);
        if (reply.empty())
            return;
        const auto how = static_cast<std::uint8_t>(reply.front());
        reply.remove_prefix(1);
        const std::string bytes = (how & 1) != 0 ? kt::link::replyFrame(reply) : std::string(reply);
        device.inputIn(bytes, how >> 1);
    });

    ReaderState state;
    FuzzView view(clock, state);
    kt::test::FakeWait wait(clock);
    wait.watchPort([&] { return device.readyAt(); });
    wait.onPause = [&] { view.paused(); };
    kt::link::ReaderLink link(device, clock, &wait);
    kt::settings::AppSettings settings{3, "19200,e,8,1", 5, "English"};
    Context ctx{link, view, settings, state};

    const kt::ops::Result scan = scanReader(ctx);
    requireIdle(view, state, device);
    require(scan.ok() == state.readerFound && scan.ok() == scan.reader.has_value(),
            "a scan reports success exactly when it found the reader and read its info");
    // The parameter commands, presets and card loop need a found reader; pretend one was.
    state.readerFound = true;
    const std::array<kt::ops::Result (*)(Context &), 4> commands = {setReaderId, setLineSettings,
                                                                    setOutputMode, readCardClick};
    for (auto command : commands) {
        command(ctx);
        requireIdle(view, state, device);
    }
    for (Preset preset : {Preset::FactoryW26, Preset::Wiegand34, Preset::Wiegand42,
                          Preset::RS485Wiegand, Preset::RS485Fast}) {
        applyPreset(ctx, preset);
        requireIdle(view, state, device);
    }
    require(kt::link::isLineSettingsIndex(settings.lineSettingsIndex)
                && settings.lineSettingsText
                       == kt::link::kLineSettingsTexts[static_cast<std::size_t>(
                           settings.lineSettingsIndex)],
            "the tool's own line settings stay an entry of the list");
    return 0;
}

#pragma once

// The window's controls as kt4500ctl keeps them: in memory, with no screen. The reader
// operations drive it exactly as they drive the window.

#include "ops/reader_view.h"

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace kt::cli
{

// A reader ID as pnID shows it: two digits.
std::string idDigits(int id);

// The view does not judge what it is shown: how an operation ended comes from its result.
class TerminalView : public ops::ReaderView
{
public:
    struct Hooks {
        std::function<void()> pump;                // one pass of the event pump
        std::function<void(int frequencyHz)> beep; // returns at once
    };

    // The controls as the window shows them after start-up, in the current language.
    TerminalView();

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    void setLockChecked(bool checked) { m_lockChecked = checked; }
    int idPosition() const { return m_idPosition; }

    // ReaderView
    void setPanelText(ops::Panel panel, std::string_view utf8) override;
    std::string panelText(ops::Panel panel) const override;
    void setLamp(ops::Lamp lamp, ops::Colour colour) override;
    void selectItem(ops::List list, int index) override;
    int selectedIndex(ops::List list) const override;
    void setIdPosition(int position) override;
    bool isLockChecked() const override { return m_lockChecked; }
    void setWindowEnabled(bool) override {}
    void setControlEnabled(ops::Control, bool) override {}
    std::string readCardCaption() const override { return m_readCardCaption; }
    void setReadCardCaption(std::string_view utf8) override { m_readCardCaption = utf8; }
    void busyMode(bool) override {}
    void startCardTimer() override {}
    void setCursor(ops::Cursor) override {}
    void beep(int frequencyHz, int durationMs) override;
    void pumpEvents() override;

private:
    Hooks m_hooks;
    std::array<std::string, 5> m_panels;
    std::array<int, 4> m_selections{};
    int m_idPosition = 1;
    bool m_lockChecked = true;
    std::string m_readCardCaption;
};

} // namespace kt::cli

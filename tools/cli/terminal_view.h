#pragma once

// The window's controls as kt4500ctl keeps them: in memory, with no screen. The reader
// operations drive it exactly as they drive the window.

#include "ops/reader_view.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kt::cli
{

// A reader ID as pnID shows it: two digits.
std::string idDigits(int id);
// What a panel shows after its caption and " : " ("S/N : 12345678" gives "12345678").
std::string afterPrefix(const std::string &shown, int prefixText);

class TerminalView final : public ops::ReaderView
{
public:
    struct Hooks {
        std::function<void()> pump;                        // one pass of the event pump
        std::function<void(int ms)> sleep;                 // blocks, handles nothing
        std::function<void()> save;                        // the stored link settings
        std::function<void(int frequencyHz)> beep;         // returns at once
        std::function<void(const std::string &text)> card; // pnCardID shows a card
    };

    // How an operation ended: its beep, and what it put into pnMsg, if anything.
    struct Outcome {
        bool succeeded = false;
        std::optional<std::string> message;
    };

    // The controls as the window shows them after start-up, in the current language.
    explicit TerminalView(Hooks hooks);

    // Forgets the last outcome and what pnMsg was given, before an operation starts.
    void beginOperation();
    // The outcome of the operation since beginOperation(); nullopt while it has not beeped.
    const std::optional<Outcome> &outcome() const { return m_outcome; }

    void setLockChecked(bool checked) { m_lockChecked = checked; }
    // When off, saveLinkSettings() does nothing.
    void setSavingAllowed(bool allowed) { m_savingAllowed = allowed; }
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
    void sleepMs(int ms) override;
    void saveLinkSettings() override;

private:
    Hooks m_hooks;
    std::array<std::string, 5> m_panels;
    std::array<int, 4> m_selections{};
    int m_idPosition = 1;
    bool m_lockChecked = true;
    bool m_savingAllowed = true;
    std::string m_readCardCaption;
    bool m_messageWritten = false;
    std::optional<Outcome> m_outcome;
};

} // namespace kt::cli

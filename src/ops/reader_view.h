#pragma once

#include <string>
#include <string_view>

namespace kt::ops
{

// The parts of the window the reader operations drive. TfrmModule implements it for the
// window; tests implement it with a recording fake; a terminal front end can implement it too.
enum class Panel { Msg, Serial, Version, ID, CardID };
enum class Lamp { Comm, Card };
enum class Colour { Red, Yellow, White };
enum class List { BaudRate, Mode, Wiegand, RS485 };
enum class Cursor { Default, Hourglass };
// The controls the card reading loop disables, in its order, and its own button.
enum class Control {
    Exit,
    Scan,
    FactoryW26,
    ID,
    BaudRate,
    Mode,
    QuickSetting, // gbDefault, with its pages and preset buttons
    Eng,
    GB,
    BIG5,
    ReadCard,
};

class ReaderView
{
public:
    virtual ~ReaderView() = default;

    virtual void setPanelText(Panel panel, std::string_view utf8) = 0; // shown as plain text
    virtual std::string panelText(Panel panel) const = 0;
    virtual void setLamp(Lamp lamp, Colour colour) = 0;

    // Item index of a list; -1 clears the selection. An index with no item clears it too.
    virtual void selectItem(List list, int index) = 0;
    virtual int selectedIndex(List list) const = 0; // -1 when nothing is selected

    // Moves sbID, clamped to 1..99; a real change rewrites pnID as "%02d".
    virtual void setIdPosition(int position) = 0;
    virtual bool isLockChecked() const = 0; // chkLock

    virtual void setWindowEnabled(bool enabled) = 0;
    virtual void setControlEnabled(Control control, bool enabled) = 0;
    virtual std::string readCardCaption() const = 0;
    virtual void setReadCardCaption(std::string_view utf8) = 0;

    virtual void busyMode(bool on) = 0; // on: blink starts, window disabled; off: the reverse
    virtual void startCardTimer() = 0;  // tmrCard enabled; a running timer is not restarted
    virtual void setCursor(Cursor cursor) = 0;

    // Blocks until the tone has ended (silently for as long where there is no sound device).
    virtual void beep(int frequencyHz, int durationMs) = 0;
    // One pass of the window's event queue: every pending event handled, then return.
    virtual void pumpEvents() = 0;
};

} // namespace kt::ops

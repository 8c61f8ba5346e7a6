#pragma once

// A recording stand-in for the window: every call becomes one event string, in order, and the
// view keeps the state a test asks about. pumpEvents() runs the actions queued for it, which
// is how a test clicks during an operation.

#include "ops/reader_view.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kt::test
{

using ops::Colour;
using ops::Control;
using ops::Cursor;
using ops::Lamp;
using ops::List;
using ops::Panel;

inline const char *nameOf(Panel p)
{
    constexpr const char *names[] = {"Msg", "Serial", "Version", "ID", "CardID"};
    return names[static_cast<int>(p)];
}
inline const char *nameOf(Lamp l)
{
    return l == Lamp::Comm ? "Comm" : "Card";
}
inline const char *nameOf(Colour c)
{
    constexpr const char *names[] = {"Red", "Yellow", "White"};
    return names[static_cast<int>(c)];
}
inline const char *nameOf(List l)
{
    constexpr const char *names[] = {"BaudRate", "Mode", "Wiegand", "RS485"};
    return names[static_cast<int>(l)];
}
inline const char *nameOf(Control c)
{
    constexpr const char *names[] = {"Exit",     "Scan", "FactoryW26",   "ID",
                                     "BaudRate", "Mode", "QuickSetting", "Eng",
                                     "GB",       "BIG5", "ReadCard"};
    return names[static_cast<int>(c)];
}

class FakeView : public ops::ReaderView
{
public:
    // State as the window has it right after start-up.
    std::map<Panel, std::string> panels = {{Panel::Msg, "Start Scan Reader!"},
                                           {Panel::Serial, "S/N : ________"},
                                           {Panel::Version, "VER : __.__-__"},
                                           {Panel::ID, "__"},
                                           {Panel::CardID, "Card ID"}};
    std::map<Lamp, Colour> lamps = {{Lamp::Comm, Colour::Red}, {Lamp::Card, Colour::White}};
    std::map<List, int> selections = {
        {List::BaudRate, 5}, {List::Mode, 0}, {List::Wiegand, 0}, {List::RS485, 1}};
    std::map<Control, bool> controlsEnabled;
    int idPosition = 1;
    bool lockChecked = true;
    bool windowEnabled = true;
    bool busy = false;
    std::string caption = "Read Card (Change to RS485 Mode)";
    int pumps = 0;
    std::vector<std::string> events;

    // Runs action at the n-th call of pumpEvents() (1-based, nested calls counted too).
    void atPump(int n, std::function<void()> action) { m_atPump.emplace(n, std::move(action)); }

    // --- queries over the events
    int count(std::string_view event) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
    // The events that begin with prefix, in order.
    std::vector<std::string> starting(std::string_view prefix) const
    {
        std::vector<std::string> found;
        for (const std::string &e : events)
            if (e.rfind(prefix, 0) == 0)
                found.push_back(e);
        return found;
    }
    // Whether the given events occur in this order (others may lie between them).
    bool inOrder(std::initializer_list<std::string_view> expected) const
    {
        auto at = events.begin();
        for (std::string_view e : expected) {
            at = std::find(at, events.end(), e);
            if (at == events.end())
                return false;
            ++at;
        }
        return true;
    }
    // The events without the waiting passes of the card loop.
    std::vector<std::string> withoutWaiting() const
    {
        std::vector<std::string> kept;
        for (const std::string &e : events)
            if (e != "pump" && e != "sleep 1")
                kept.push_back(e);
        return kept;
    }
    std::string dump() const
    {
        std::string all;
        for (const std::string &e : events)
            all += "  " + e + "\n";
        return all;
    }

    // --- ReaderView
    void setPanelText(Panel panel, std::string_view utf8) override
    {
        panels[panel] = std::string(utf8);
        record(std::string("text ") + nameOf(panel) + " " + std::string(utf8));
    }
    std::string panelText(Panel panel) const override { return panels.at(panel); }
    void setLamp(Lamp lamp, Colour colour) override
    {
        lamps[lamp] = colour;
        record(std::string("lamp ") + nameOf(lamp) + " " + nameOf(colour));
    }
    void selectItem(List list, int index) override
    {
        constexpr int sizes[] = {12, 2, 3, 3};
        selections[list] = index >= 0 && index < sizes[static_cast<int>(list)] ? index : -1;
        record(std::string("select ") + nameOf(list) + " " + std::to_string(index));
    }
    int selectedIndex(List list) const override { return selections.at(list); }
    void setIdPosition(int position) override
    {
        record("id " + std::to_string(position));
        position = std::clamp(position, 1, 99);
        if (position == idPosition)
            return;
        idPosition = position;
        char id[8];
        std::snprintf(id, sizeof id, "%02d", position);
        setPanelText(Panel::ID, id);
    }
    bool isLockChecked() const override { return lockChecked; }
    void setWindowEnabled(bool enabled) override
    {
        windowEnabled = enabled;
        record(std::string("enable window ") + (enabled ? "true" : "false"));
    }
    void setControlEnabled(Control control, bool enabled) override
    {
        controlsEnabled[control] = enabled;
        record(std::string("control ") + nameOf(control) + (enabled ? " true" : " false"));
    }
    std::string readCardCaption() const override { return caption; }
    void setReadCardCaption(std::string_view utf8) override
    {
        caption = std::string(utf8);
        record("caption " + caption);
    }
    void busyMode(bool on) override
    {
        busy = on;
        windowEnabled = !on;
        record(on ? "busy on" : "busy off");
    }
    void startCardTimer() override { record("card timer"); }
    void setCursor(Cursor cursor) override
    {
        record(cursor == Cursor::Hourglass ? "cursor Hourglass" : "cursor Default");
    }
    void beep(int frequencyHz, int durationMs) override
    {
        record("beep " + std::to_string(frequencyHz) + " " + std::to_string(durationMs));
    }
    void pumpEvents() override
    {
        record("pump");
        const auto action = m_atPump.find(++pumps);
        if (action != m_atPump.end())
            action->second();
    }

    void record(std::string event) { events.push_back(std::move(event)); }

private:
    std::map<int, std::function<void()>> m_atPump;
};

} // namespace kt::test

#include "terminal_view.h"

#include "link/line_table.h"
#include "text/list_items.h"
#include "text/text_ids.h"
#include "text/text_table.h"

#include <algorithm>
#include <cstdio>

namespace kt::cli
{

using namespace text::ids;

namespace
{

constexpr int kIdMin = 1;
constexpr int kIdMax = 99;

// The number of items of each list, in the order of ops::List.
constexpr std::array<int, 4> kListSizes = {
    static_cast<int>(link::kLineSettingsTexts.size()), static_cast<int>(text::kModeItems.size()),
    static_cast<int>(text::kWiegandItems.size()), static_cast<int>(text::kRS485Items.size())};

std::size_t at(ops::Panel panel)
{
    return static_cast<std::size_t>(panel);
}
std::size_t at(ops::List list)
{
    return static_cast<std::size_t>(list);
}

} // namespace

std::string idDigits(int id)
{
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02d", id);
    return digits;
}

TerminalView::TerminalView()
{
    using text::localText;
    m_panels[at(ops::Panel::Msg)] = localText(kTextStartScanReader);
    m_panels[at(ops::Panel::Serial)] = localText(kTextSerial) + std::string(text::kNoSerialNumber);
    m_panels[at(ops::Panel::Version)] = localText(kTextVersion) + std::string(text::kNoVersion);
    m_panels[at(ops::Panel::ID)] = "__";
    m_panels[at(ops::Panel::CardID)] = localText(kTextCardId);
    m_selections = {link::kFactoryLineSettingsIndex, 0, 0, 1};
    m_readCardCaption = localText(kTextReadCard);
}

void TerminalView::setPanelText(ops::Panel panel, std::string_view utf8)
{
    m_panels[at(panel)] = std::string(utf8);
}

std::string TerminalView::panelText(ops::Panel panel) const
{
    return m_panels[at(panel)];
}

void TerminalView::setLamp(ops::Lamp, ops::Colour) {}

void TerminalView::selectItem(ops::List list, int index)
{
    m_selections[at(list)] = index >= 0 && index < kListSizes[at(list)] ? index : -1;
}

int TerminalView::selectedIndex(ops::List list) const
{
    return m_selections[at(list)];
}

void TerminalView::setIdPosition(int position)
{
    position = std::clamp(position, kIdMin, kIdMax);
    if (position == m_idPosition)
        return;
    m_idPosition = position;
    setPanelText(ops::Panel::ID, idDigits(position));
}

void TerminalView::beep(int frequencyHz, int)
{
    if (m_hooks.beep)
        m_hooks.beep(frequencyHz);
}

void TerminalView::pumpEvents()
{
    if (m_hooks.pump)
        m_hooks.pump();
}

} // namespace kt::cli

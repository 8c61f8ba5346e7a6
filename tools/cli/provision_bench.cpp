#include "provision_bench.h"

#include "link/commands.h"
#include "link/reader_link.h"
#include "settings/app_settings.h"
#include "text/list_items.h"
#include "text/text_ids.h"
#include "text/text_table.h"

#include <algorithm>

namespace kt::cli
{

namespace
{

// The slice a pause sleeps between two looks at the interrupt flag.
constexpr std::uint32_t kPauseSliceMs = 10;

} // namespace

OpsBench::OpsBench(ops::Context ctx, TerminalView &view, std::function<void()> pump,
                   std::function<bool()> interrupted)
    : m_ctx(ctx)
    , m_view(view)
    , m_pump(std::move(pump))
    , m_interrupted(std::move(interrupted))
{
}

void OpsBench::useLineSettings(int lineIndex)
{
    m_ctx.settings.lineSettingsIndex = lineIndex;
    m_ctx.settings.lineSettingsText =
        std::string(text::kLineSettingsList[static_cast<std::size_t>(lineIndex)]);
}

bool OpsBench::succeeded() const
{
    return m_view.outcome() && m_view.outcome()->succeeded;
}

std::optional<std::string> OpsBench::probe(int lineIndex)
{
    useLineSettings(lineIndex);
    link::ReaderLink &link = m_ctx.link;
    if (!link.openPort(m_ctx.settings.portNumber, m_ctx.settings.lineSettingsText))
        return std::nullopt;
    std::optional<std::string> serial;
    if (link.transact(link::kIdentityQuery) && link.replyLength() == link::kIdentityReplyLength)
        serial = std::string(link::serialNumberField(link.lastReply()));
    link.closePort();
    return serial;
}

std::optional<ReaderRead> OpsBench::read(int lineIndex)
{
    useLineSettings(lineIndex);
    m_view.setLockChecked(true);
    m_view.beginOperation();
    ops::scanReader(m_ctx);
    if (!succeeded() || !m_ctx.state.readerFound)
        return std::nullopt;
    ReaderRead read;
    read.serial = afterPrefix(m_view.panelText(ops::Panel::Serial), text::ids::kTextSerial);
    read.version = afterPrefix(m_view.panelText(ops::Panel::Version), text::ids::kTextVersion);
    read.id = m_view.panelText(ops::Panel::ID);
    read.mode = {m_view.selectedIndex(ops::List::Mode), m_view.selectedIndex(ops::List::Wiegand),
                 m_view.selectedIndex(ops::List::RS485)};
    // A digit with no list item leaves its list unselected; the reader's own digit is not
    // known then, and nothing may be sent back from it.
    if (std::any_of(read.mode.begin(), read.mode.end(), [](int digit) { return digit < 0; }))
        return std::nullopt;
    return read;
}

bool OpsBench::setId(int lineIndex, int id)
{
    useLineSettings(lineIndex);
    m_view.setIdPosition(id);
    // Where the bar already stood at the ID, pnID may still show the reader's own field.
    if (m_view.panelText(ops::Panel::ID) != idDigits(id))
        m_view.setPanelText(ops::Panel::ID, idDigits(id));
    m_view.beginOperation();
    ops::setReaderId(m_ctx);
    return succeeded();
}

bool OpsBench::setMode(int lineIndex, const std::array<int, 3> &mode)
{
    useLineSettings(lineIndex);
    m_view.selectItem(ops::List::Mode, mode[0]);
    m_view.selectItem(ops::List::Wiegand, mode[1]);
    m_view.selectItem(ops::List::RS485, mode[2]);
    m_view.beginOperation();
    ops::setOutputMode(m_ctx);
    return succeeded();
}

bool OpsBench::setLineSettings(int lineIndex, int newLineIndex)
{
    useLineSettings(lineIndex);
    m_view.selectItem(ops::List::BaudRate, newLineIndex);
    m_view.beginOperation();
    ops::setLineSettings(m_ctx);
    return succeeded();
}

void OpsBench::pause(std::uint32_t ms)
{
    link::Clock &clock = m_ctx.link.clock();
    const std::uint32_t start = clock.nowMs();
    // Unsigned subtraction keeps the pause right across the clock's wrap.
    for (std::uint32_t passed = 0; passed < ms && !m_interrupted();
         passed = clock.nowMs() - start) {
        clock.sleepMs(std::min(kPauseSliceMs, ms - passed));
        if (m_pump)
            m_pump();
    }
}

} // namespace kt::cli

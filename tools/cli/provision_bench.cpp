#include "provision_bench.h"

#include "link/commands.h"
#include "link/line_table.h"
#include "link/reader_link.h"
#include "settings/app_settings.h"

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
        std::string(link::kLineSettingsTexts[static_cast<std::size_t>(lineIndex)]);
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
    const ops::Result result = ops::scanReader(m_ctx);
    if (!result.ok() || !result.reader)
        return std::nullopt;
    const ops::ReaderInfo &info = *result.reader;
    return ReaderRead{info.serialNumber,
                      info.version,
                      info.readerId,
                      {info.outputMode, info.wiegandFormat, info.rs485Format}};
}

bool OpsBench::setId(int lineIndex, int id)
{
    useLineSettings(lineIndex);
    m_view.setIdPosition(id);
    // Where the bar already stood at the ID, pnID may still show the reader's own field.
    if (m_view.panelText(ops::Panel::ID) != idDigits(id))
        m_view.setPanelText(ops::Panel::ID, idDigits(id));
    return ops::setReaderId(m_ctx).ok();
}

bool OpsBench::setMode(int lineIndex, const std::array<int, 3> &mode)
{
    useLineSettings(lineIndex);
    // A digit with no item of its list leaves the list unselected, and the operation refuses
    // to send a command it cannot build.
    m_view.selectItem(ops::List::Mode, mode[0]);
    m_view.selectItem(ops::List::Wiegand, mode[1]);
    m_view.selectItem(ops::List::RS485, mode[2]);
    return ops::setOutputMode(m_ctx).ok();
}

bool OpsBench::setLineSettings(int lineIndex, int newLineIndex)
{
    useLineSettings(lineIndex);
    m_view.selectItem(ops::List::BaudRate, newLineIndex);
    return ops::setLineSettings(m_ctx).ok();
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

#include "link/commands.h"
#include "link/hex.h"
#include "link/reader_link.h"
#include "operations.h"
#include "ops_common.h"
#include "settings/app_settings.h"
#include "text/text_table.h"

#include <array>
#include <cstdio>
#include <string>

namespace kt::ops
{

namespace
{

constexpr int kWaitingPasses = 80;
constexpr int kWaitingPassMs = 1;

// Disabled while the loop runs and enabled again afterwards, in this order. btnReadCard
// stays enabled: it is the stop button.
constexpr std::array<Control, 10> kLockedControls = {
    Control::Exit, Control::Scan,         Control::FactoryW26, Control::ID, Control::BaudRate,
    Control::Mode, Control::QuickSetting, Control::Eng,        Control::GB, Control::BIG5};

using text::localText;

void enableControls(ReaderView &view, bool enabled)
{
    for (Control control : kLockedControls)
        view.setControlEnabled(control, enabled);
}

// " : %010d  " of the card value as a signed 32-bit number, then the field as received.
std::string cardText(std::string_view cardField)
{
    std::array<char, 32> decimal{};
    std::snprintf(decimal.data(), decimal.size(), " : %010d  ",
                  static_cast<int>(link::hexToInt(cardField)));
    return localText(kTextCardId) + decimal.data() + std::string(cardField) + "(H)";
}

// Polls until a poll fails or a stop click asks the loop to stop. The state is tested only
// before the waiting passes, so a stop click lets the pass in progress finish.
void pollCards(Context &ctx)
{
    while (ctx.state.cardLoop == CardLoop::Running) {
        for (int i = 0; i < kWaitingPasses; ++i) {
            ctx.view.pumpEvents();
            ctx.link.pause(kWaitingPassMs);
        }
        if (!ctx.link.transact(link::kCardQuery))
            return;
        if (ctx.link.replyLength() != link::kCardReplyLength)
            continue;
        Card card;
        card.number = std::string(link::cardNumberField(ctx.link.lastReply()));
        card.shown = cardText(card.number);
        ctx.view.setPanelText(Panel::CardID, card.shown);
        ctx.view.setLamp(Lamp::Card, Colour::Yellow);
        ctx.view.startCardTimer();
        if (ctx.cardShown)
            ctx.cardShown(card);
    }
}

Result runCardLoop(Context &ctx)
{
    ReaderView &view = ctx.view;
    Result result;
    const int port = ctx.settings.portNumber;
    if (!ctx.link.openPort(port, ctx.settings.lineSettingsText)) {
        view.setLamp(Lamp::Comm, Colour::Red);
        result.outcome = Outcome::PortNotOpened;
        result.textId = kTextOpenCom;
        showMessage(view, result,
                    localText(kTextOpenCom) + " : " + std::to_string(port) + " "
                        + localText(kTextError));
        ctx.state.cardLoop = CardLoop::Stopping;
        beepFor(view, result.outcome);
        return result;
    }
    view.busyMode(true);
    // The blink runs while the window takes input again, so that the stop click gets through.
    view.setWindowEnabled(true);
    pollCards(ctx);
    view.busyMode(false);
    if (ctx.state.cardLoop == CardLoop::Running) {
        ctx.state.cardLoop = CardLoop::Stopping;
        showOutcome(view, result, Outcome::ReaderFailed, kTextReaderNotFind);
    } else {
        showOutcome(view, result, Outcome::Ok);
    }
    view.setLamp(Lamp::Card, Colour::White);
    ctx.link.closePort();
    return result;
}

} // namespace

Result readCardClick(Context &ctx)
{
    ReaderView &view = ctx.view;
    Result result;
    if (!ctx.state.readerFound) {
        result.textId = kTextStartScanReader;
        showMessage(view, result, localText(kTextStartScanReader));
        beepFor(view, result.outcome);
        return result;
    }
    if (ctx.state.cardLoop == CardLoop::Running) {
        ctx.state.cardLoop = CardLoop::Stopping;
        result.outcome = Outcome::Ok;
        return result;
    }
    // A stop is pending and the loop is finishing its pass further down this call stack: a
    // nested start would try the port that loop holds and could cost it its port.
    if (ctx.state.cardLoop == CardLoop::Stopping) {
        KT_INFO(lcOps, "card reading is stopping; the click is ignored");
        return result;
    }

    ctx.state.cardLoop = CardLoop::Running;
    const std::string caption = view.readCardCaption();
    view.setReadCardCaption(localText(kTextCancelReadCard));
    enableControls(view, false);
    result = runCardLoop(ctx);
    view.setPanelText(Panel::CardID, localText(kTextCardId));
    enableControls(view, true);
    view.setReadCardCaption(caption);
    ctx.state.cardLoop = CardLoop::Idle;
    return result;
}

} // namespace kt::ops

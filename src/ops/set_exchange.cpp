#include "set_exchange.h"

#include "link/commands.h"
#include "link/line_table.h"
#include "link/reader_link.h"
#include "ops_common.h"
#include "settings/app_settings.h"
#include "text/list_items.h"
#include "text/text_table.h"

#include <array>

namespace kt::ops
{

namespace
{

constexpr int kTries = 2;
constexpr std::uint32_t kPauseMs = 100;
constexpr std::size_t kSerialNumberLength = 8;
// Any eight characters: asks each set command whether the controls let it be built at all.
constexpr std::string_view kTrialSerialNumber = "00000000";

using text::localText;

template <std::size_t N> bool hasItem(const std::array<std::string_view, N> &items, int index)
{
    return index >= 0 && index < static_cast<int>(items.size());
}

template <std::size_t N>
std::string itemText(const std::array<std::string_view, N> &items, int index)
{
    return hasItem(items, index) ? std::string(items[static_cast<std::size_t>(index)])
                                 : std::string();
}

bool isTwoDigits(std::string_view text)
{
    return text.size() == 2 && link::decimalField(text).has_value();
}

std::optional<std::string> setIdCommand(std::string_view serialNumber, std::string_view readerId)
{
    // A zero byte in the reply cuts lastReply() short; such a serial number is not sent on.
    if (serialNumber.size() != kSerialNumberLength || !isTwoDigits(readerId))
        return std::nullopt;
    return link::setIdCommand(serialNumber, readerId);
}

bool commandsCanBeBuilt(const SetExchange &exchange)
{
    for (const SetCommand &build : exchange.setCommands) {
        if (!build(kTrialSerialNumber))
            return false;
    }
    return true;
}

// One try: the identity query, then every set command. true when all of them were answered.
bool runTry(Context &ctx, const SetExchange &exchange)
{
    ctx.link.pause(kPauseMs);
    if (!ctx.link.transact(link::kIdentityQuery)
        || ctx.link.replyLength() != link::kIdentityReplyLength)
        return false;
    const std::string serialNumber(link::serialNumberField(ctx.link.lastReply()));
    for (const SetCommand &build : exchange.setCommands) {
        ctx.link.pause(kPauseMs);
        const std::optional<std::string> command = build(serialNumber);
        if (!command) {
            KT_WARNING(lcOps,
                       "identity reply carries a serial number of %d characters; "
                       "no set command is built from it",
                       static_cast<int>(serialNumber.size()));
            return false;
        }
        if (!ctx.link.transact(*command))
            return false;
    }
    if (exchange.successAction)
        exchange.successAction();
    return true;
}

// Everything after the gate; ends with the outcome shown.
void exchangeWithReader(Context &ctx, const SetExchange &exchange, Result &result)
{
    if (exchange.preparation)
        exchange.preparation();
    // A list without a selection, or a pnID that does not hold two digits, would give the
    // reader a malformed command: the operation is refused as failed before the port opens.
    if (!commandsCanBeBuilt(exchange)) {
        KT_WARNING(lcOps, "the controls do not make a complete set command; nothing is sent");
        showOutcome(ctx.view, result, Outcome::Refused, exchange.errorText);
        return;
    }
    showMessage(ctx.view, result, exchange.openingMessage());
    if (!ctx.link.openPort(ctx.settings.portNumber, ctx.settings.lineSettingsText)) {
        showOutcome(ctx.view, result, Outcome::PortNotOpened, exchange.errorText);
        return;
    }
    bool succeeded = false;
    for (int i = 0; i < kTries && !succeeded; ++i)
        succeeded = runTry(ctx, exchange);
    ctx.link.closePort();
    if (succeeded)
        showOutcome(ctx.view, result, Outcome::Ok, exchange.okText);
    else
        showOutcome(ctx.view, result, Outcome::ReaderFailed, exchange.errorText);
}

} // namespace

Result runSetExchange(Context &ctx, const SetExchange &exchange)
{
    ReaderView &view = ctx.view;
    Result result;
    view.setCursor(Cursor::Hourglass);
    view.setWindowEnabled(false);
    if (ctx.state.readerFound)
        exchangeWithReader(ctx, exchange, result);
    else
        showOutcome(view, result, Outcome::Refused, kTextStartScanReader);
    view.setWindowEnabled(true);
    view.setCursor(Cursor::Default);
    return result;
}

SetCommand setIdFromPanel(ReaderView &view)
{
    return [&view](std::string_view serialNumber) {
        return setIdCommand(serialNumber, view.panelText(Panel::ID));
    };
}

SetCommand setIdFixed(std::string readerId)
{
    return [readerId = std::move(readerId)](std::string_view serialNumber) {
        return setIdCommand(serialNumber, readerId);
    };
}

SetCommand setModeFromLists(ReaderView &view)
{
    return [&view](std::string_view) -> std::optional<std::string> {
        const int mode = view.selectedIndex(List::Mode);
        const int wiegand = view.selectedIndex(List::Wiegand);
        const int rs485 = view.selectedIndex(List::RS485);
        if (!hasItem(text::kModeItems, mode) || !hasItem(text::kWiegandItems, wiegand)
            || !hasItem(text::kRS485Items, rs485))
            return std::nullopt;
        return link::setModeCommand(mode, wiegand, rs485);
    };
}

SetCommand setLineSettingsFromList(ReaderView &view)
{
    return [&view](std::string_view) -> std::optional<std::string> {
        std::string command = link::setLineSettingsCommand(view.selectedIndex(List::BaudRate));
        if (command.empty())
            return std::nullopt;
        return command;
    };
}

Result setReaderId(Context &ctx)
{
    ReaderView &view = ctx.view;
    SetExchange exchange;
    exchange.openingMessage = [&view] {
        return localText(kTextSetReaderId) + " = " + view.panelText(Panel::ID);
    };
    exchange.setCommands = {setIdFromPanel(view)};
    exchange.okText = kTextSetReaderIdOk;
    exchange.errorText = kTextSetReaderIdError;
    return runSetExchange(ctx, exchange);
}

Result setLineSettings(Context &ctx)
{
    ReaderView &view = ctx.view;
    SetExchange exchange;
    exchange.openingMessage = [&view] {
        return localText(kTextSetBaudRate) + " = "
               + itemText(link::kLineSettingsTexts, view.selectedIndex(List::BaudRate));
    };
    exchange.setCommands = {setLineSettingsFromList(view)};
    // In memory only: the settings file keeps what the last scan saved.
    exchange.successAction = [&ctx] {
        const int index = ctx.view.selectedIndex(List::BaudRate);
        if (!link::isLineSettingsIndex(index))
            return;
        ctx.settings.lineSettingsIndex = index;
        ctx.settings.lineSettingsText = itemText(link::kLineSettingsTexts, index);
    };
    exchange.okText = kTextSetBaudRateOk;
    exchange.errorText = kTextSetBaudRateError;
    return runSetExchange(ctx, exchange);
}

Result setOutputMode(Context &ctx)
{
    ReaderView &view = ctx.view;
    SetExchange exchange;
    exchange.openingMessage = [&view] {
        const std::string format =
            view.selectedIndex(List::Mode) == 0
                ? itemText(text::kWiegandItems, view.selectedIndex(List::Wiegand))
                : itemText(text::kRS485Items, view.selectedIndex(List::RS485));
        return localText(kTextSetMode) + " = " + format;
    };
    exchange.setCommands = {setModeFromLists(view)};
    exchange.okText = kTextSetModeOk;
    exchange.errorText = kTextSetModeError;
    return runSetExchange(ctx, exchange);
}

} // namespace kt::ops

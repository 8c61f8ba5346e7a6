#include "link/commands.h"
#include "link/hex.h"
#include "link/line_table.h"
#include "link/reader_link.h"
#include "operations.h"
#include "ops_common.h"
#include "settings/app_settings.h"
#include "text/text_table.h"

#include <optional>
#include <string>

namespace kt::ops
{

namespace
{

constexpr int kStoredPortTries = 3;
constexpr int kFirstSweepPort = 1;
constexpr int kLastSweepPort = 16;
constexpr int kSweepTries = 2;
constexpr int kVersionTries = 2;
constexpr std::uint32_t kInfoPauseMs = 100;

using text::localText;

std::string portSuffix(int port)
{
    return " : #" + std::to_string(port);
}

void showStartOfScan(ReaderView &view)
{
    view.setPanelText(Panel::Msg, localText(kTextScanReader) + " ....");
    view.setPanelText(Panel::Serial, localText(kTextSerial) + std::string(text::kNoSerialNumber));
    view.setPanelText(Panel::Version, localText(kTextVersion) + std::string(text::kNoVersion));
    view.setPanelText(Panel::ID, "__");
}

void showCandidate(ReaderView &view, int port)
{
    view.setPanelText(Panel::Msg, localText(kTextScanCom) + portSuffix(port));
}

// Whether one of the tries got a good identity reply of exactly 16 bytes; that reply is then
// in lastReply(). A good reply of another length is a failed try.
bool identityAnswered(link::ReaderLink &link, int tries)
{
    for (int i = 0; i < tries; ++i) {
        if (link.transact(link::kIdentityQuery) && link.replyLength() == link::kIdentityReplyLength)
            return true;
    }
    return false;
}

enum class Search { Found, Silent, NotOpened };

// The port and line settings found last time; nothing is stored or saved here.
Search findOnStoredPort(Context &ctx)
{
    const int port = ctx.settings.portNumber;
    if (port <= 0)
        return Search::Silent;
    ctx.view.selectItem(List::BaudRate, usableLineSettingsIndex(ctx.settings.lineSettingsIndex));
    if (!ctx.link.openPort(port, ctx.settings.lineSettingsText))
        return Search::NotOpened;
    showCandidate(ctx.view, port);
    const bool found = identityAnswered(ctx.link, kStoredPortTries);
    ctx.link.closePort();
    return found ? Search::Found : Search::Silent;
}

// Ports 1 to 16, each with every line setting or, with chkLock ticked, the stored one only.
// The first candidate that answers is stored and saved; true when one answered.
bool sweep(Context &ctx, Result &result)
{
    for (int port = kFirstSweepPort; port <= kLastSweepPort; ++port) {
        for (int index = 0; index < static_cast<int>(link::kLineSettingsTexts.size()); ++index) {
            const bool locked = ctx.view.isLockChecked();
            const int candidate =
                locked ? usableLineSettingsIndex(ctx.settings.lineSettingsIndex) : index;
            ctx.view.selectItem(List::BaudRate, candidate);
            const std::string_view lineSettings = link::kLineSettingsTexts[candidate];
            // A port that does not open has nothing behind it worth another line setting.
            if (!ctx.link.openPort(port, lineSettings))
                break;
            showCandidate(ctx.view, port);
            const bool found = identityAnswered(ctx.link, kSweepTries);
            if (found) {
                ctx.settings.portNumber = port;
                ctx.settings.lineSettingsText = std::string(lineSettings);
                ctx.settings.lineSettingsIndex = candidate;
                if (ctx.store) {
                    // The store logs why a save failed.
                    result.saved =
                        static_cast<bool>(settings::saveLinkSettings(*ctx.store, ctx.settings));
                    result.saveFailed = !result.saved;
                }
            }
            ctx.link.closePort();
            if (found)
                return true;
            if (locked)
                break;
        }
    }
    return false;
}

// Reads the three mode digits of a mode reply and selects them; a digit with no item leaves
// its list without a selection. false, with nothing selected: a field is not a decimal digit.
bool selectModeFields(ReaderView &view, std::string_view reply, ReaderInfo &info)
{
    const std::optional<int> mode = link::decimalField(link::outputModeField(reply));
    const std::optional<int> wiegand = link::decimalField(link::wiegandFormatField(reply));
    const std::optional<int> rs485 = link::decimalField(link::rs485FormatField(reply));
    if (!mode || !wiegand || !rs485) {
        KT_WARNING(lcOps, "mode reply %s carries a field that is not a decimal digit",
                   link::hexDump(reply).c_str());
        return false;
    }
    view.selectItem(List::Mode, *mode);
    view.selectItem(List::Wiegand, *wiegand);
    view.selectItem(List::RS485, *rs485);
    info.outputMode = *mode;
    info.wiegandFormat = *wiegand;
    info.rs485Format = *rs485;
    return true;
}

// The version and mode queries on the found port. Ok when the mode reply was read.
Outcome readVersionAndMode(Context &ctx, Result &result, ReaderInfo &info)
{
    const int port = ctx.settings.portNumber;
    if (!ctx.link.openPort(port, ctx.settings.lineSettingsText))
        return Outcome::PortNotOpened;
    Outcome outcome = Outcome::ReaderFailed;
    for (int i = 0; i < kVersionTries; ++i) {
        ctx.link.pause(kInfoPauseMs);
        if (!ctx.link.transact(link::kVersionQuery))
            continue;
        ctx.link.pause(kInfoPauseMs);
        info.version = std::string(link::versionField(ctx.link.lastReply()));
        ctx.view.setPanelText(Panel::Version, localText(kTextVersion) + " : " + info.version);
        // The mode query is sent once: a failed one ends the info read.
        if (ctx.link.transact(link::kModeQuery)
            && selectModeFields(ctx.view, ctx.link.lastReply(), info)) {
            outcome = Outcome::Ok;
            result.textId = kTextInfoOk;
            showMessage(ctx.view, result, localText(kTextInfoOk) + portSuffix(port) + ")");
            ctx.state.readerFound = true;
        }
        break;
    }
    ctx.link.closePort();
    return outcome;
}

// Shows what the identity reply in lastReply() says, then reads the version and the mode.
Outcome readInfo(Context &ctx, Result &result, ReaderInfo &info)
{
    info.port = ctx.settings.portNumber;
    info.lineSettingsIndex = usableLineSettingsIndex(ctx.settings.lineSettingsIndex);
    ctx.view.selectItem(List::BaudRate, info.lineSettingsIndex);
    const std::string identity = ctx.link.lastReply();
    info.serialNumber = std::string(link::serialNumberField(identity));
    ctx.view.setPanelText(Panel::Serial, localText(kTextSerial) + " : " + info.serialNumber);
    info.readerId = std::string(link::readerIdField(identity));
    ctx.view.setPanelText(Panel::ID, info.readerId);
    const std::optional<int> idValue = link::decimalField(info.readerId);
    if (!idValue) {
        KT_WARNING(lcOps, "reader ID field \"%s\" is not two decimal digits",
                   info.readerId.c_str());
        return Outcome::ReaderFailed;
    }
    ctx.view.setIdPosition(*idValue);
    return readVersionAndMode(ctx, result, info);
}

} // namespace

Result scanReader(Context &ctx)
{
    ReaderView &view = ctx.view;
    Result result;
    view.setCursor(Cursor::Hourglass);
    view.busyMode(true);
    showStartOfScan(view);
    view.pumpEvents();
    ctx.state.readerFound = false;
    if (!link::isLineSettingsIndex(ctx.settings.lineSettingsIndex))
        KT_WARNING(lcOps, "stored line-settings index %d is outside the list; index %d stands in",
                   ctx.settings.lineSettingsIndex, link::kFactoryLineSettingsIndex);

    const Search stored = findOnStoredPort(ctx);
    const bool found = stored == Search::Found || sweep(ctx, result);
    ReaderInfo info;
    if (!found) {
        view.busyMode(false);
        view.setLamp(Lamp::Comm, Colour::Red);
        view.selectItem(List::BaudRate, link::kFactoryLineSettingsIndex);
        result.outcome =
            stored == Search::NotOpened ? Outcome::PortNotOpened : Outcome::ReaderNotFound;
        result.textId = kTextReaderNotFind;
        showMessage(view, result, localText(kTextReaderNotFind));
        beepFor(view, result.outcome);
    } else if (const Outcome outcome = readInfo(ctx, result, info); outcome == Outcome::Ok) {
        view.busyMode(false);
        showOutcome(view, result, outcome);
        result.reader = std::move(info);
    } else {
        view.busyMode(false);
        showOutcome(view, result, outcome, kTextInfoError,
                    localText(kTextInfoError) + portSuffix(ctx.settings.portNumber) + ")");
    }
    view.setCursor(Cursor::Default);
    return result;
}

} // namespace kt::ops

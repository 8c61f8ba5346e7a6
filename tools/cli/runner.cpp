#include "runner.h"

#include "link/commands.h"
#include "link/hex.h"
#include "link/line_table.h"
#include "link/reader_link.h"
#include "provision_bench.h"
#include "text/list_items.h"
#include "text/text_ids.h"
#include "text/text_table.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace kt::cli
{

using namespace text::ids;

namespace
{

using ops::List;
using ops::Panel;
using text::localText;

template <std::size_t N> std::string itemOf(const std::array<std::string_view, N> &items, int index)
{
    return index >= 0 && index < static_cast<int>(N) ? std::string(items[index]) : std::string();
}

template <std::size_t N>
void addItem(JsonObject &json, std::string_view key, const std::array<std::string_view, N> &words,
             int index, bool asNumber)
{
    if (index < 0 || index >= static_cast<int>(N)) {
        json.null(key);
    } else if (asNumber) {
        json.number(key, std::stoi(std::string(words[index])));
    } else {
        json.text(key, words[index]);
    }
}

} // namespace

Runner::Runner(link::ReaderLink &link, PortWatch &watch, settings::SettingsStore &store,
               const settings::AppSettings &stored, Io io, TerminalView *view)
    : m_link(link)
    , m_watch(watch)
    , m_store(store)
    , m_stored(stored)
    , m_settings(stored)
    , m_io(std::move(io))
    , m_view(view ? *view : m_ownView)
{
    m_view.setHooks({
        .pump = [this] { pump(); },
        .beep =
            [this](int) {
                // provision sounds once a reader, not at each of its operations.
                if (m_io.bell && m_invocation.command != Command::Provision)
                    m_io.bell();
            },
    });
}

ops::Context Runner::context(bool saving)
{
    return {m_link,
            m_view,
            m_settings,
            m_state,
            saving ? &m_store : nullptr,
            [this](const ops::Card &card) { cardShown(card); }};
}

int Runner::run(const Invocation &invocation)
{
    m_invocation = invocation;
    if (invocation.port)
        m_settings.portNumber = *invocation.port;
    if (invocation.lineSettingsIndex) {
        m_settings.lineSettingsIndex = *invocation.lineSettingsIndex;
        m_settings.lineSettingsText = std::string(
            link::kLineSettingsTexts[static_cast<std::size_t>(*invocation.lineSettingsIndex)]);
    }
    // The window handles its events while the link waits: that is where an interrupt or the
    // end of --seconds is noticed.
    m_link.setEventWait(&m_wait);
    int status = kExitSuccess;
    if (invocation.command == Command::Scan)
        status = runScan();
    else if (invocation.command == Command::Provision)
        status = runProvision();
    else
        status = runWithReader();
    m_link.setEventWait(nullptr);
    return status;
}

void Runner::PumpingWait::waitFor(std::uint32_t ms, std::optional<int> readable)
{
    if (m_runner.m_io.wait != nullptr)
        m_runner.m_io.wait->waitFor(ms, readable);
    else
        m_runner.m_link.clock().sleepMs(ms);
    m_runner.pump();
}

void Runner::PumpingWait::waitForMicros(std::uint64_t us, std::optional<int> readable)
{
    if (m_runner.m_io.wait == nullptr) {
        EventWait::waitForMicros(us, readable);
        return;
    }
    m_runner.m_io.wait->waitForMicros(us, readable);
    m_runner.pump();
}

int Runner::runScan()
{
    // A port named on the command line is the only one tried: a search of the others could
    // find and store another reader than the one meant.
    m_watch.pinTo(m_invocation.port);
    m_view.setLockChecked(!m_invocation.allLineSettings);
    ops::Context ctx = context(true);
    const ops::Result result = ops::scanReader(ctx);
    m_watch.pinTo(std::nullopt);
    const int status = finish(Command::Scan, result);
    if (result.saveFailed) {
        m_io.note("the reader's port and line settings could not be stored; later runs do not "
                  "find it there");
        return status == kExitSuccess ? kExitNotSaved : status;
    }
    const bool elsewhere = m_settings.portNumber != m_stored.portNumber
                           || m_settings.lineSettingsText != m_stored.lineSettingsText;
    if (status == kExitSuccess && !result.saved && elsewhere)
        m_io.note("the reader answered on COM" + std::to_string(m_settings.portNumber) + " at "
                  + lineSettingsInUse()
                  + " as given for this run; the stored settings are unchanged, as only a search "
                    "stores (without --port and --line-settings the scan searches)");
    return status;
}

int Runner::runWithReader()
{
    // The scan that unlocks the other operations, kept to the one port the run is about: a
    // search of the other ports could set up another reader than the one meant, and saving
    // belongs to the scan command.
    m_watch.pinTo(m_settings.portNumber);
    ops::Result scan;
    {
        ops::Context ctx = context();
        scan = ops::scanReader(ctx);
    }
    m_watch.pinTo(std::nullopt);
    if (m_aborted) {
        m_io.note("interrupted; nothing was sent");
        return kExitInterrupted;
    }
    if (!scan.ok()) {
        printOutcome(Command::Scan, scan);
        noteHangUps();
        const int status = failureStatus(scan, false);
        if (m_settings.portNumber <= 0) {
            m_io.note("no reader port is stored yet: run 'kt4500ctl scan' first, or give --port N");
        } else if (status == kExitFailed && scan.outcome == ops::Outcome::ReaderNotFound) {
            m_io.note("no reader answered on COM" + std::to_string(m_settings.portNumber) + " at "
                      + lineSettingsInUse()
                      + "; 'kt4500ctl scan' searches ports 1 to 16 (with --all-line-settings at "
                        "every line setting)");
        }
        return status;
    }

    const ops::Result result = runOperation();
    const int status = finish(m_invocation.command, result);
    if (status == kExitSuccess)
        noteLineSettings();
    return status;
}

namespace
{

std::string lineSettingsText(int index)
{
    return link::isLineSettingsIndex(index)
               ? std::string(link::kLineSettingsTexts[static_cast<std::size_t>(index)])
               : std::string();
}

// "12345678: ID 05 (was 01), mode 011 (was 001), 19200,e,8,1: ok"
std::string describeReader(const ReaderResult &result, const std::string &serial)
{
    if (result.outcome == ReaderResult::Outcome::Already)
        return serial + ": already set up as ID "
               + std::to_string(std::atoi(result.alreadyId.c_str()));
    std::string line = serial + ":";
    if (result.before && result.after) {
        const auto change = [](const std::string &now, const std::string &was) {
            return now == was ? now : now + " (was " + was + ")";
        };
        line += " ID " + change(result.after->id, result.before->id) + ", mode "
                + change(result.after->modeText(), result.before->modeText()) + ",";
    }
    return line + " " + lineSettingsText(result.lineIndexAfter) + ": " + result.outcomeText();
}

} // namespace

int Runner::runProvision()
{
    const Invocation &inv = m_invocation;
    if (m_settings.portNumber <= 0) {
        m_io.note("no reader port is stored yet: give --port N");
        return kExitUsage;
    }
    Report report;
    if (inv.reportPath) {
        std::string error;
        if (!report.open(*inv.reportPath, error)) {
            m_io.note(error + "; nothing was sent");
            return kExitUsage;
        }
    }
    ProvisionPlan plan;
    plan.ids = inv.ids.value_or(IdRange{});
    plan.port = m_settings.portNumber;
    // The line settings in use, or where nothing usable is stored those of a reader fresh
    // from its box; with --all-line-settings the others follow.
    const int inUse =
        lineSettingsIndexOf(m_settings.lineSettingsText).value_or(link::kFactoryLineSettingsIndex);
    plan.lineIndices.push_back(inUse);
    for (int i = 0; inv.allLineSettings && i < static_cast<int>(link::kLineSettingsTexts.size());
         ++i) {
        if (i != inUse)
            plan.lineIndices.push_back(i);
    }
    plan.output = inv.outputMode;
    plan.wiegand = inv.wiegandFormat;
    plan.rs485 = inv.rs485Format;
    plan.newLineIndex = inv.provisionLineSettingsIndex;

    // The one port of the run, and nothing stored: the bench is not where the readers go.
    m_watch.pinTo(plan.port);
    if (!m_link.openPort(plan.port, lineSettingsText(plan.lineIndices.front()))) {
        for (const OpenFailure &failure : portFailures(false))
            m_io.note(describeFailure(failure));
        return m_aborted ? kExitInterrupted : kExitPort;
    }
    m_link.closePort();

    OpsBench bench(
        context(), m_view, [this] { pump(); }, [this] { return m_aborted; });
    bool reportFailed = false;
    Provisioner::Events events;
    events.waiting = [&](int nextId) {
        m_io.note("waiting for a reader on COM" + std::to_string(plan.port) + " (next ID "
                  + std::to_string(nextId) + ")");
    };
    events.readerDone = [&](const ReaderResult &result) {
        const std::string serial = reportSerial(result.serial);
        ReportRow row;
        row.time = isoTime(std::time(nullptr));
        row.port = plan.port;
        row.serial = serial;
        row.version = result.before ? result.before->version : "";
        row.idBefore = result.before ? result.before->id : "";
        row.idAfter = result.after ? result.after->id : row.idBefore;
        row.modeBefore = result.before ? result.before->modeText() : "";
        row.modeAfter = result.after ? result.after->modeText() : row.modeBefore;
        row.lineSettings = lineSettingsText(result.lineIndexAfter);
        row.outcome = result.outcomeText();
        if (!report.append(row)) {
            reportFailed = true;
            m_io.note("the report " + inv.reportPath.value_or("") + " could not be written ("
                      + std::strerror(errno) + "); stopped");
            interrupted();
        }
        if (m_io.out.isJson()) {
            m_io.out.object(
                JsonObject()
                    .text("event", "reader")
                    .number("port", plan.port)
                    .text("lineSettingsBefore", lineSettingsText(result.lineIndexBefore))
                    .text("lineSettings", row.lineSettings)
                    .text("serialNumber", serial)
                    .text("version", row.version)
                    .text("idBefore", row.idBefore)
                    .text("idAfter", row.idAfter)
                    .text("modeBefore", row.modeBefore)
                    .text("modeAfter", row.modeAfter)
                    .text("outcome", row.outcome));
        } else {
            m_io.out.line(describeReader(result, serial));
        }
        const bool good = result.outcome == ReaderResult::Outcome::Ok
                          || result.outcome == ReaderResult::Outcome::Already;
        if (m_io.bell)
            m_io.bell();
        else if (m_io.tone)
            m_io.tone(good);
    };
    Provisioner provisioner(bench, plan, events);
    const Provisioner::End end = provisioner.run(report.finished());
    if (reportFailed)
        return kExitFailed;
    if (end == Provisioner::End::Interrupted)
        return kExitInterrupted;
    return provisioner.anyFailed() ? kExitFailed : kExitSuccess;
}

ops::Result Runner::runOperation()
{
    ops::Context ctx = context();
    const Invocation &inv = m_invocation;
    switch (inv.command) {
    case Command::SetId: {
        m_view.setIdPosition(inv.readerId);
        // Where the bar already stood at N, pnID still shows the reader's own field (a reader
        // that reports ID 00 leaves the bar at 1 and pnID at "00"). What is sent is what the
        // bar says, as after a move away and back.
        const std::string digits = idDigits(m_view.idPosition());
        if (m_view.panelText(Panel::ID) != digits)
            m_view.setPanelText(Panel::ID, digits);
        return ops::setReaderId(ctx);
    }
    case Command::SetLineSettings:
        m_view.selectItem(List::BaudRate, inv.newLineSettingsIndex);
        return ops::setLineSettings(ctx);
    case Command::SetMode:
        if (inv.outputMode)
            m_view.selectItem(List::Mode, *inv.outputMode);
        if (inv.wiegandFormat)
            m_view.selectItem(List::Wiegand, *inv.wiegandFormat);
        if (inv.rs485Format)
            m_view.selectItem(List::RS485, *inv.rs485Format);
        return ops::setOutputMode(ctx);
    case Command::Preset:
        return ops::applyPreset(ctx, inv.preset);
    case Command::ReadCards:
        return readCards();
    case Command::Ports:
    case Command::Scan:
    case Command::Provision:
        break;
    }
    return {};
}

ops::Result Runner::readCards()
{
    m_stage = Stage::Cards;
    m_stopClicked = false;
    m_cardsInterrupted = false;
    m_cardsShown = 0;
    m_shownCard.reset();
    m_cardAway = true;
    m_cardsStartMs = m_link.clock().nowMs();
    ops::Context ctx = context();
    const ops::Result result = ops::readCardClick(ctx);
    m_stage = Stage::Other;
    return result;
}

void Runner::pump()
{
    // The link keeps the reply of the last poll until the next one: one without a card
    // between two with the same number makes the second a new presentation.
    if (m_stage == Stage::Cards && m_link.replyLength() != link::kCardReplyLength)
        m_cardAway = true;
    if (m_io.takeInterrupt && m_io.takeInterrupt())
        interrupted();
    // After an interrupt the pass ends with its poll, as after the Cancel click; a poll that
    // still takes in bytes once its reply window has closed is a babbling line, which would
    // hold the run until its cut-off: it ends now, as any other interrupted exchange does.
    if (m_stage == Stage::Cards && m_cardsInterrupted && !m_aborted && m_link.inStream()) {
        m_aborted = true;
        m_watch.refuseOpens();
        m_io.note("interrupted; the poll in progress brings bytes without a reply and ends now");
    }
    // Unsigned subtraction keeps the length right across the clock's wrap.
    if (m_stage == Stage::Cards && m_invocation.durationMs
        && m_link.clock().nowMs() - m_cardsStartMs >= *m_invocation.durationMs)
        stopCards();
}

void Runner::interrupted()
{
    if (m_stage == Stage::Cards) {
        m_cardsInterrupted = true;
        stopCards();
        return;
    }
    if (m_aborted)
        return;
    // The operation runs on to its end with no port to open, so that a port already open is
    // closed as usual: killed in the middle, the process would leave its exclusive flag on
    // a pseudo-terminal behind.
    m_aborted = true;
    m_watch.refuseOpens();
    m_io.note("interrupted; the exchange in progress ends first");
}

void Runner::stopCards()
{
    if (m_stopClicked || m_state.cardLoop != ops::CardLoop::Running)
        return;
    m_stopClicked = true;
    // The window's "Cancel Read Card" click: the loop finishes its pass, with its poll, and
    // then closes the port.
    ops::Context ctx = context();
    (void)ops::readCardClick(ctx);
}

void Runner::cardShown(const ops::Card &card)
{
    if (m_stage != Stage::Cards)
        return;
    const bool presented = m_cardAway || m_shownCard != card.number;
    m_cardAway = false;
    m_shownCard = card.number;
    if (!presented && !m_invocation.everyPoll)
        return;
    ++m_cardsShown;
    bool written = false;
    if (m_io.out.isJson()) {
        written = m_io.out.object(JsonObject()
                                      .text("event", "card")
                                      .text("card", card.number)
                                      .number("decimal", link::hexToInt(card.number))
                                      .text("message", card.shown));
    } else {
        written = m_io.out.line(card.shown);
    }
    // With the output gone (a closed pipe) nobody sees the cards any more.
    if (!written || (m_invocation.count && m_cardsShown >= *m_invocation.count))
        stopCards();
}

int Runner::finish(Command command, const ops::Result &result)
{
    printOutcome(command, result);
    noteHangUps();
    // Card reading cut short by an interrupt ends as the Cancel click does, but as interrupted.
    if (result.ok() && !(command == Command::ReadCards && m_aborted))
        return kExitSuccess;
    if (m_aborted)
        return kExitInterrupted;
    return failureStatus(result, command == Command::Scan);
}

// Notes every port failure that matters on standard error.
int Runner::failureStatus(const ops::Result &result, bool anyPortMatters)
{
    const std::vector<OpenFailure> failures = portFailures(anyPortMatters);
    for (const OpenFailure &failure : failures)
        m_io.note(describeFailure(failure));
    const bool port = result.outcome == ops::Outcome::PortNotOpened || !failures.empty();
    return port ? kExitPort : kExitFailed;
}

void Runner::printOutcome(Command command, const ops::Result &result)
{
    const ops::ReaderInfo *reader =
        command == Command::Scan && result.ok() && result.reader ? &*result.reader : nullptr;
    if (m_io.out.isJson()) {
        JsonObject json;
        json.text("event", "outcome")
            .text("command", commandName(command))
            .boolean("ok", result.ok());
        if (!result.message.empty())
            json.text("message", result.message);
        else
            json.null("message");
        if (reader) {
            json.number("port", reader->port)
                .text("lineSettings", lineSettingsInUse())
                .text("serialNumber", reader->serialNumber)
                .text("version", reader->version)
                .text("readerId", reader->readerId);
            addItem(json, "output", kOutputWords, reader->outputMode, false);
            addItem(json, "wiegand", kWiegandWords, reader->wiegandFormat, true);
            addItem(json, "rs485", kRS485Words, reader->rs485Format, true);
        }
        if (command == Command::ReadCards)
            json.number("cards", m_cardsShown);
        m_io.out.object(json);
        return;
    }
    if (!result.message.empty())
        m_io.out.line(result.message);
    if (!reader)
        return;
    m_io.out.line(localText(kTextSerial) + " : " + reader->serialNumber);
    m_io.out.line(localText(kTextVersion) + " : " + reader->version);
    m_io.out.line(localText(kTextId) + " : " + reader->readerId);
    m_io.out.line(localText(kTextBaudRate) + " : "
                  + (m_settings.lineSettingsText.empty()
                         ? lineSettingsInUse()
                         : itemOf(link::kLineSettingsTexts, reader->lineSettingsIndex)));
    m_io.out.line(itemOf(text::kModeItems, reader->outputMode) + ", "
                  + itemOf(text::kWiegandItems, reader->wiegandFormat) + ", "
                  + itemOf(text::kRS485Items, reader->rs485Format));
}

void Runner::noteHangUps()
{
    for (const int port : m_watch.hangUps())
        m_io.note("COM" + std::to_string(port) + ": the port hung up (converter unplugged?)");
}

std::vector<OpenFailure> Runner::portFailures(bool anyPortMatters) const
{
    std::vector<OpenFailure> found;
    for (const OpenFailure &failure : m_watch.failures()) {
        const bool meant = failure.port == m_settings.portNumber;
        // A port of the sweep that is not there is the usual case; one that is there but
        // cannot be had may be where the reader is.
        const bool inTheWay = failure.kind == link::PortError::Busy
                              || failure.kind == link::PortError::PermissionDenied;
        const bool known = std::any_of(found.begin(), found.end(), [&](const OpenFailure &f) {
            return f.port == failure.port;
        });
        if (!known && (meant || (anyPortMatters && inTheWay)))
            found.push_back(failure);
    }
    return found;
}

std::string Runner::lineSettingsInUse() const
{
    // An empty text opens the port without touching its line, so what it runs at is what it
    // had; the list's first entry would name settings nobody asked for.
    if (!m_settings.lineSettingsText.empty())
        return m_settings.lineSettingsText;
    return m_watch.lineSettingsInForce().empty() ? std::string("the port's own line settings")
                                                 : m_watch.lineSettingsInForce();
}

void Runner::noteLineSettings()
{
    const Command command = m_invocation.command;
    if (command != Command::SetLineSettings && command != Command::Preset)
        return;
    const int index = m_view.selectedIndex(List::BaudRate);
    if (!link::isLineSettingsIndex(index))
        return;
    const std::string now(link::kLineSettingsTexts[static_cast<std::size_t>(index)]);
    if (now == m_stored.lineSettingsText)
        return;
    m_io.note(
        "the reader now works at " + now + " while the stored settings keep "
        + (m_stored.lineSettingsText.empty() ? std::string("none") : m_stored.lineSettingsText)
        + ": reach it with --line-settings " + now
        + ", or store it with 'kt4500ctl scan --all-line-settings'");
}

} // namespace kt::cli

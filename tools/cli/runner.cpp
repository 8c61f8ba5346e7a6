#include "runner.h"

#include "link/commands.h"
#include "link/hex.h"
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
               const settings::AppSettings &stored, Io io)
    : m_link(link)
    , m_watch(watch)
    , m_store(store)
    , m_stored(stored)
    , m_settings(stored)
    , m_io(std::move(io))
    , m_view(TerminalView::Hooks{
          .pump = [this] { pump(); },
          .sleep = [this](int ms) { m_link.clock().sleepMs(static_cast<std::uint32_t>(ms)); },
          .save =
              [this] {
                  // The store logs why a save failed; the exit status tells the caller.
                  if (!settings::saveLinkSettings(m_store, m_settings))
                      m_saveFailed = true;
                  m_saved = true;
              },
          .beep =
              [this](int) {
                  // provision sounds once a reader, not at each of its operations.
                  if (m_io.bell && m_invocation.command != Command::Provision)
                      m_io.bell();
              },
          .card = [this](const std::string &text) { cardShown(text); },
      })
{
}

int Runner::run(const Invocation &invocation)
{
    m_invocation = invocation;
    if (invocation.port)
        m_settings.portNumber = *invocation.port;
    if (invocation.lineSettingsIndex) {
        m_settings.lineSettingsIndex = *invocation.lineSettingsIndex;
        m_settings.lineSettingsText = std::string(
            text::kLineSettingsList[static_cast<std::size_t>(*invocation.lineSettingsIndex)]);
    }
    // The link pumps while it waits for a reply, as the window handles its events then: that
    // is where an interrupt or the end of --seconds is noticed.
    m_link.setPumpEvents([this] { pump(); });
    int status = kExitSuccess;
    if (invocation.command == Command::Scan)
        status = runScan();
    else if (invocation.command == Command::Provision)
        status = runProvision();
    else
        status = runWithReader();
    m_link.setPumpEvents({});
    return status;
}

int Runner::runScan()
{
    // A port named on the command line is the only one tried: a search of the others could
    // find and store another reader than the one meant.
    m_watch.pinTo(m_invocation.port);
    m_view.setLockChecked(!m_invocation.allLineSettings);
    m_view.beginOperation();
    ops::Context ctx = context();
    ops::scanReader(ctx);
    m_watch.pinTo(std::nullopt);
    const int status = finish(Command::Scan);
    if (m_saveFailed) {
        m_io.note("the reader's port and line settings could not be stored; later runs do not "
                  "find it there");
        return status == kExitSuccess ? kExitNotSaved : status;
    }
    const bool elsewhere = m_settings.portNumber != m_stored.portNumber
                           || m_settings.lineSettingsText != m_stored.lineSettingsText;
    if (status == kExitSuccess && !m_saved && elsewhere)
        m_io.note("the reader answered on COM" + std::to_string(m_settings.portNumber) + " at "
                  + m_settings.lineSettingsText
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
    m_view.setSavingAllowed(false);
    m_view.beginOperation();
    {
        ops::Context ctx = context();
        ops::scanReader(ctx);
    }
    m_watch.pinTo(std::nullopt);
    m_view.setSavingAllowed(true);
    if (m_aborted) {
        m_io.note("interrupted; nothing was sent");
        return kExitInterrupted;
    }
    if (!m_state.readerFound) {
        const std::optional<TerminalView::Outcome> outcome = m_view.outcome();
        printOutcome(Command::Scan, false, outcome ? outcome->message : std::nullopt);
        const std::vector<OpenFailure> failures = portFailures(false);
        for (const OpenFailure &failure : failures)
            m_io.note(describeFailure(failure));
        if (m_settings.portNumber <= 0) {
            m_io.note("no reader port is stored yet: run 'kt4500ctl scan' first, or give --port N");
        } else if (failures.empty() && outcome
                   && outcome->message == localText(kTextReaderNotFind)) {
            m_io.note("no reader answered on COM" + std::to_string(m_settings.portNumber) + " at "
                      + m_settings.lineSettingsText
                      + "; 'kt4500ctl scan' searches ports 1 to 16 (with --all-line-settings at "
                        "every line setting)");
        }
        return failures.empty() ? kExitFailed : kExitPort;
    }

    m_view.beginOperation();
    runOperation();
    const int status = finish(m_invocation.command);
    if (status == kExitSuccess)
        noteLineSettings();
    return status;
}

namespace
{

std::string lineSettingsText(int index)
{
    return text::isLineSettingsIndex(index)
               ? std::string(text::kLineSettingsList[static_cast<std::size_t>(index)])
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
    if (inv.allLineSettings) {
        for (int i = 0; i < static_cast<int>(text::kLineSettingsList.size()); ++i)
            plan.lineIndices.push_back(i);
    } else {
        plan.lineIndices.push_back(text::isLineSettingsIndex(m_settings.lineSettingsIndex)
                                       ? m_settings.lineSettingsIndex
                                       : text::kDefaultLineSettingsIndex);
    }
    plan.output = inv.outputMode;
    plan.wiegand = inv.wiegandFormat;
    plan.rs485 = inv.rs485Format;
    plan.newLineIndex = inv.provisionLineSettingsIndex;

    // The one port of the run, and nothing stored: the bench is not where the readers go.
    m_watch.pinTo(plan.port);
    m_view.setSavingAllowed(false);
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

void Runner::runOperation()
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
        ops::setReaderId(ctx);
        break;
    }
    case Command::SetLineSettings:
        m_view.selectItem(List::BaudRate, inv.newLineSettingsIndex);
        ops::setLineSettings(ctx);
        break;
    case Command::SetMode:
        if (inv.outputMode)
            m_view.selectItem(List::Mode, *inv.outputMode);
        if (inv.wiegandFormat)
            m_view.selectItem(List::Wiegand, *inv.wiegandFormat);
        if (inv.rs485Format)
            m_view.selectItem(List::RS485, *inv.rs485Format);
        ops::setOutputMode(ctx);
        break;
    case Command::Preset:
        ops::applyPreset(ctx, inv.preset);
        break;
    case Command::ReadCards:
        readCards();
        break;
    case Command::Ports:
    case Command::Scan:
    case Command::Provision:
        break;
    }
}

void Runner::readCards()
{
    m_stage = Stage::Cards;
    m_stopClicked = false;
    m_cardsShown = 0;
    m_shownCard.reset();
    m_cardAway = true;
    m_cardsStartMs = m_link.clock().nowMs();
    ops::Context ctx = context();
    ops::readCardClick(ctx);
    m_stage = Stage::Other;
}

void Runner::pump()
{
    // The link keeps the reply of the last poll until the next one: one without a card
    // between two with the same number makes the second a new presentation.
    if (m_stage == Stage::Cards && m_link.replyLength() != link::kCardReplyLength)
        m_cardAway = true;
    if (m_io.takeInterrupt && m_io.takeInterrupt())
        interrupted();
    // Unsigned subtraction keeps the length right across the clock's wrap.
    if (m_stage == Stage::Cards && m_invocation.durationMs
        && m_link.clock().nowMs() - m_cardsStartMs >= *m_invocation.durationMs)
        stopCards();
}

void Runner::interrupted()
{
    if (m_stage == Stage::Cards) {
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
    if (m_stopClicked || !m_state.cardReading)
        return;
    m_stopClicked = true;
    // The window's "Cancel Read Card" click: the loop finishes its pass, with its poll, and
    // then closes the port.
    ops::Context ctx = context();
    ops::readCardClick(ctx);
}

void Runner::cardShown(const std::string &text)
{
    if (m_stage != Stage::Cards)
        return;
    const std::string field(link::cardNumberField(m_link.lastReply()));
    const bool presented = m_cardAway || m_shownCard != field;
    m_cardAway = false;
    m_shownCard = field;
    if (!presented && !m_invocation.everyPoll)
        return;
    ++m_cardsShown;
    bool written = false;
    if (m_io.out.isJson()) {
        written = m_io.out.object(JsonObject()
                                      .text("event", "card")
                                      .text("card", field)
                                      .number("decimal", link::hexToInt(field))
                                      .text("message", text));
    } else {
        written = m_io.out.line(text);
    }
    // With the output gone (a closed pipe) nobody sees the cards any more.
    if (!written || (m_invocation.count && m_cardsShown >= *m_invocation.count))
        stopCards();
}

int Runner::finish(Command command)
{
    const std::optional<TerminalView::Outcome> &outcome = m_view.outcome();
    const bool succeeded = outcome && outcome->succeeded;
    printOutcome(command, succeeded, outcome ? outcome->message : std::nullopt);
    if (succeeded)
        return kExitSuccess;
    if (m_aborted)
        return kExitInterrupted;
    const std::vector<OpenFailure> failures = portFailures(command == Command::Scan);
    for (const OpenFailure &failure : failures)
        m_io.note(describeFailure(failure));
    return failures.empty() ? kExitFailed : kExitPort;
}

void Runner::printOutcome(Command command, bool succeeded,
                          const std::optional<std::string> &message)
{
    const bool readerShown = command == Command::Scan && succeeded;
    if (m_io.out.isJson()) {
        JsonObject json;
        json.text("event", "outcome")
            .text("command", commandName(command))
            .boolean("ok", succeeded);
        if (message)
            json.text("message", *message);
        else
            json.null("message");
        if (readerShown) {
            json.number("port", m_settings.portNumber)
                .text("lineSettings", m_settings.lineSettingsText)
                .text("serialNumber", afterPrefix(m_view.panelText(Panel::Serial), kTextSerial))
                .text("version", afterPrefix(m_view.panelText(Panel::Version), kTextVersion))
                .text("readerId", m_view.panelText(Panel::ID));
            addItem(json, "output", kOutputWords, m_view.selectedIndex(List::Mode), false);
            addItem(json, "wiegand", kWiegandWords, m_view.selectedIndex(List::Wiegand), true);
            addItem(json, "rs485", kRS485Words, m_view.selectedIndex(List::RS485), true);
        }
        if (command == Command::ReadCards)
            json.number("cards", m_cardsShown);
        m_io.out.object(json);
        return;
    }
    if (message)
        m_io.out.line(*message);
    if (!readerShown)
        return;
    m_io.out.line(m_view.panelText(Panel::Serial));
    m_io.out.line(m_view.panelText(Panel::Version));
    m_io.out.line(localText(kTextId) + " : " + m_view.panelText(Panel::ID));
    m_io.out.line(localText(kTextBaudRate) + " : "
                  + itemOf(text::kLineSettingsList, m_view.selectedIndex(List::BaudRate)));
    m_io.out.line(itemOf(text::kModeItems, m_view.selectedIndex(List::Mode)) + ", "
                  + itemOf(text::kWiegandItems, m_view.selectedIndex(List::Wiegand)) + ", "
                  + itemOf(text::kRS485Items, m_view.selectedIndex(List::RS485)));
}

std::vector<OpenFailure> Runner::portFailures(bool anyPortMatters) const
{
    std::vector<OpenFailure> found;
    for (const OpenFailure &failure : m_watch.failures()) {
        const bool meant = failure.port == m_settings.portNumber;
        // A port of the sweep that is not there is the usual case; one that is there but
        // cannot be had may be where the reader is.
        const bool inTheWay = failure.error == link::PortError::Busy
                              || failure.error == link::PortError::PermissionDenied;
        const bool known = std::any_of(found.begin(), found.end(), [&](const OpenFailure &f) {
            return f.port == failure.port;
        });
        if (!known && (meant || (anyPortMatters && inTheWay)))
            found.push_back(failure);
    }
    return found;
}

void Runner::noteLineSettings()
{
    const Command command = m_invocation.command;
    if (command != Command::SetLineSettings && command != Command::Preset)
        return;
    const int index = m_view.selectedIndex(List::BaudRate);
    if (!text::isLineSettingsIndex(index))
        return;
    const std::string now(text::kLineSettingsList[static_cast<std::size_t>(index)]);
    if (now == m_stored.lineSettingsText)
        return;
    m_io.note(
        "the reader now works at " + now + " while the stored settings keep "
        + (m_stored.lineSettingsText.empty() ? std::string("none") : m_stored.lineSettingsText)
        + ": reach it with --line-settings " + now
        + ", or store it with 'kt4500ctl scan --all-line-settings'");
}

} // namespace kt::cli

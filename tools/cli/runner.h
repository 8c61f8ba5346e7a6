#pragma once

// One run of a reader command: the window's operations from kt::ops on a TerminalView, their
// outcome printed, and the exit status.

#include "link/event_wait.h"
#include "ops/operations.h"
#include "options.h"
#include "port_watch.h"
#include "printer.h"
#include "settings/app_settings.h"
#include "terminal_view.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kt::link
{
class ReaderLink;
}

namespace kt::cli
{

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1; // the reader failed or was not found
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;     // the port could not be opened
constexpr int kExitNotSaved = 4; // the scan found the reader, its settings could not be saved
constexpr int kExitInterrupted = 130;

class Runner
{
public:
    struct Io {
        Printer &out;
        std::function<void(const std::string &line)> note; // one line on standard error
        // true once for each interrupt (Ctrl-C, SIGTERM) that arrived since the last call.
        std::function<bool()> takeInterrupt;
        std::function<void()> bell; // where the window beeps; may be empty
        // How the thread sleeps while the link waits; none: on the link's clock.
        link::EventWait *wait = nullptr;
        // provision's one tone a reader, success or failure; may be empty.
        std::function<void(bool succeeded)> tone;
    };

    // link must run on watch. stored: the settings as loaded; the run works on a copy.
    // view: the controls the operations drive; nullptr: a TerminalView of the runner's own.
    Runner(link::ReaderLink &link, PortWatch &watch, settings::SettingsStore &store,
           const settings::AppSettings &stored, Io io, TerminalView *view = nullptr);

    // Runs every command but ports; returns the exit status. Blocks until the operation ends.
    int run(const Invocation &invocation);

    const settings::AppSettings &settings() const { return m_settings; }
    const TerminalView &view() const { return m_view; }

private:
    enum class Stage { Other, Cards };

    // The link's wait during a run: Io's, then what the window would handle as its events
    // (an interrupt, the end of --seconds). After an interrupt it asks the link to stop, so
    // that an exchange held by a babbling line ends at once; while cards are read, once the
    // poll in progress is in such a stream.
    class PumpingWait final : public link::EventWait
    {
    public:
        explicit PumpingWait(Runner &runner)
            : m_runner(runner)
        {
        }
        void waitFor(std::uint32_t ms, std::optional<int> readable) override;
        void waitForMicros(std::uint64_t us, std::optional<int> readable) override;
        bool stopRequested() const override { return m_runner.m_aborted; }

    private:
        Runner &m_runner;
    };

    // saving: whether a scan may save where it found the reader.
    ops::Context context(bool saving = false);
    int runScan();
    int runProvision();
    int runWithReader();
    ops::Result runOperation();
    ops::Result readCards();

    void pump();
    void interrupted();
    void stopCards();
    void cardShown(const ops::Card &card);

    // Prints the outcome of the operation just ended as the given command, and returns the
    // exit status that goes with it.
    int finish(Command command, const ops::Result &result);
    int failureStatus(const ops::Result &result, bool anyPortMatters);
    void printOutcome(Command command, const ops::Result &result);
    // Says on standard error which ports hung up while held, beside the outcome.
    void noteHangUps();
    std::vector<OpenFailure> portFailures(bool anyPortMatters) const;
    // The line settings of the run; with none stored and none given, those the port had.
    std::string lineSettingsInUse() const;
    void noteLineSettings();

    link::ReaderLink &m_link;
    PortWatch &m_watch;
    settings::SettingsStore &m_store;
    const settings::AppSettings m_stored;
    settings::AppSettings m_settings;
    Io m_io;
    ops::ReaderState m_state;
    TerminalView m_ownView;
    TerminalView &m_view;
    PumpingWait m_wait{*this};
    Invocation m_invocation;

    Stage m_stage = Stage::Other;
    bool m_aborted = false;
    bool m_stopClicked = false;
    bool m_cardsInterrupted = false; // the stop click came from an interrupt
    int m_cardsShown = 0;
    std::optional<std::string> m_shownCard; // the number of the last card reply
    bool m_cardAway = true;                 // a poll without a card came after it
    std::uint32_t m_cardsStartMs = 0;
};

} // namespace kt::cli

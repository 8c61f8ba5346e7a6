#pragma once

// kt4500ctl provision: a box of readers set up one after the other on one port. The logic
// here talks to the readers through a Bench, so that it is tested with a fake one.

#include "options.h"
#include "report.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt::cli
{

// What a scan reads from a reader. The texts are the reader's fields as it sent them.
struct ReaderRead {
    std::string serial;
    std::string version;
    std::string id;               // two digits
    std::array<int, 3> mode{};    // output mode, Wiegand and RS485 format digits
    std::string modeText() const; // "001"
};

// The reader side of provisioning on one port. Each call blocks until its exchange has ended.
class Bench
{
public:
    virtual ~Bench() = default;
    // One identity query at the line settings of this index: the serial number of the reader
    // that answered, nullopt when none did.
    virtual std::optional<std::string> probe(int lineIndex) = 0;
    // The reader read as a scan reads it; nullopt when that failed.
    virtual std::optional<ReaderRead> read(int lineIndex) = 0;
    // The set commands, each with its tries; true when the reader acknowledged it.
    virtual bool setId(int lineIndex, int id) = 0;
    virtual bool setMode(int lineIndex, const std::array<int, 3> &mode) = 0;
    virtual bool setLineSettings(int lineIndex, int newLineIndex) = 0;
    // Waits ms milliseconds; returns early once interrupted.
    virtual void pause(std::uint32_t ms) = 0;
    // true from the first interrupt (Ctrl-C, SIGTERM, SIGHUP) on.
    virtual bool interrupted() = 0;
};

struct ProvisionPlan {
    IdRange ids;
    int port = 0;
    std::vector<int> lineIndices; // where a reader is looked for, in this order
    std::optional<int> output;    // the mode digits to give; unset ones keep the reader's own
    std::optional<int> wiegand;
    std::optional<int> rs485;
    std::optional<int> newLineIndex;
};

// One reader done: what it was, what it is now, how it ended.
struct ReaderResult {
    enum class Outcome { Ok, Already, Failed, Interrupted };
    Outcome outcome = Outcome::Failed;
    std::string failedStep; // with Failed: "read", "set ID", "set mode", "set line settings",
                            // "read back", "read back ID", "read back mode"
    std::string serial;     // the reader's bytes
    std::optional<ReaderRead> before;
    std::optional<ReaderRead> after; // as read back; with Interrupted, what was set
    int lineIndexBefore = 0;
    int lineIndexAfter = 0;
    std::string alreadyId; // with Already: the ID it was given before

    std::string outcomeText() const; // "ok", "already", "failed: set ID", "interrupted"
};

// About three identity queries a second while waiting.
constexpr std::uint32_t kProbePeriodMs = 333;
// Answers missed in a row that mean the reader has been taken away.
constexpr int kMissesForGone = 2;

class Provisioner
{
public:
    struct Events {
        std::function<void(int nextId)> waiting;              // once a wait for a reader begins
        std::function<void(const ReaderResult &)> readerDone; // after each reader
    };

    // finished: the serial numbers (as reportSerial() gives them) already set up, with their
    // IDs. IDs given to one of them are not given again.
    Provisioner(Bench &bench, ProvisionPlan plan, Events events);

    enum class End { AllGiven, Interrupted };
    // Runs until every ID of the range has been given, or until interrupted.
    End run(const std::map<std::string, std::string> &finished);

    bool anyFailed() const { return m_anyFailed; }

private:
    struct Found {
        int lineIndex = 0;
        std::string serial;
    };
    std::optional<Found> waitForReader();
    ReaderResult setUp(const Found &found);
    void change(ReaderResult &result);
    void waitUntilGone(int lineIndex, const std::string &serial);
    std::optional<int> nextFreeId(int from) const;
    std::array<int, 3> wantedMode(const std::array<int, 3> &own) const;
    bool changesMode() const;

    Bench &m_bench;
    ProvisionPlan m_plan;
    Events m_events;
    std::map<std::string, std::string> m_finished;
    std::optional<int> m_nextId;
    bool m_anyFailed = false;
};

} // namespace kt::cli

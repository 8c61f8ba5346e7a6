#include "provision.h"

#include "link/reader_link.h"
#include "terminal_view.h"

#include <cstdio>

namespace kt::cli
{

namespace
{

// A missed identity query has already waited out the reply window; an answered one has not.
constexpr std::uint32_t kPauseAfterMissMs = kProbePeriodMs - link::kReplyWindowMs;

} // namespace

std::string ReaderRead::modeText() const
{
    std::string digits;
    for (int digit : mode)
        digits += static_cast<char>('0' + digit);
    return digits;
}

std::string ReaderResult::outcomeText() const
{
    switch (outcome) {
    case Outcome::Ok:
        return "ok";
    case Outcome::Already:
        return "already";
    case Outcome::Failed:
        return "failed: " + failedStep;
    case Outcome::Interrupted:
        return "interrupted";
    }
    return {};
}

Provisioner::Provisioner(Bench &bench, ProvisionPlan plan, Events events)
    : m_bench(bench)
    , m_plan(std::move(plan))
    , m_events(std::move(events))
{
}

std::optional<int> Provisioner::nextFreeId(int from) const
{
    for (int id = from; id <= m_plan.ids.last; ++id) {
        const std::string digits = idDigits(id);
        bool given = false;
        for (const auto &[serial, givenId] : m_finished)
            given = given || givenId == digits;
        if (!given)
            return id;
    }
    return std::nullopt;
}

Provisioner::End Provisioner::run(const std::map<std::string, std::string> &finished)
{
    m_finished = finished;
    m_nextId = nextFreeId(m_plan.ids.first);
    while (m_nextId) {
        const std::optional<Found> found = waitForReader();
        if (!found)
            return End::Interrupted;
        ReaderResult result = setUp(*found);
        if (result.outcome == ReaderResult::Outcome::Ok) {
            m_finished[reportSerial(result.serial)] = idDigits(*m_nextId);
            m_nextId = nextFreeId(*m_nextId + 1);
        }
        m_anyFailed = m_anyFailed || result.outcome == ReaderResult::Outcome::Failed;
        if (m_events.readerDone)
            m_events.readerDone(result);
        if (result.outcome == ReaderResult::Outcome::Interrupted || m_bench.interrupted())
            return End::Interrupted;
        if (m_nextId)
            waitUntilGone(result.lineIndexAfter, result.serial);
    }
    return End::AllGiven;
}

std::optional<Provisioner::Found> Provisioner::waitForReader()
{
    if (m_events.waiting)
        m_events.waiting(*m_nextId);
    while (!m_bench.interrupted()) {
        for (int lineIndex : m_plan.lineIndices) {
            if (std::optional<std::string> serial = m_bench.probe(lineIndex))
                return Found{lineIndex, std::move(*serial)};
            if (m_bench.interrupted())
                return std::nullopt;
            m_bench.pause(kPauseAfterMissMs);
        }
    }
    return std::nullopt;
}

ReaderResult Provisioner::setUp(const Found &found)
{
    ReaderResult result;
    result.serial = found.serial;
    result.lineIndexBefore = found.lineIndex;
    result.lineIndexAfter = found.lineIndex;
    result.before = m_bench.read(found.lineIndex);
    if (!result.before) {
        result.failedStep = "read";
    } else {
        // The scan's own identity reply is the one that counts (another reader may have been
        // plugged in since the query that found one).
        result.serial = result.before->serial;
        const auto already = m_finished.find(reportSerial(result.serial));
        if (already != m_finished.end()) {
            result.outcome = ReaderResult::Outcome::Already;
            result.alreadyId = already->second;
            result.after = result.before;
        } else {
            change(result);
        }
    }
    if (result.outcome == ReaderResult::Outcome::Failed && m_bench.interrupted())
        result.outcome = ReaderResult::Outcome::Interrupted;
    return result;
}

void Provisioner::change(ReaderResult &result)
{
    const int id = *m_nextId;
    const int lineIndex = result.lineIndexBefore;
    ReaderRead wanted = *result.before;
    wanted.id = idDigits(id);
    wanted.mode = wantedMode(result.before->mode);
    // What was done so far, for a reader interrupted half-way.
    ReaderRead done = *result.before;
    const auto fail = [&](std::string step) {
        result.failedStep = std::move(step);
        result.after = done;
    };

    if (!m_bench.setId(lineIndex, id))
        return fail("set ID");
    done.id = wanted.id;
    if (changesMode()) {
        if (m_bench.interrupted() || !m_bench.setMode(lineIndex, wanted.mode))
            return fail("set mode");
        done.mode = wanted.mode;
    }
    if (m_plan.newLineIndex && *m_plan.newLineIndex != lineIndex) {
        if (m_bench.interrupted() || !m_bench.setLineSettings(lineIndex, *m_plan.newLineIndex))
            return fail("set line settings");
        result.lineIndexAfter = *m_plan.newLineIndex;
    }
    if (m_bench.interrupted())
        return fail("read back");
    result.after = m_bench.read(result.lineIndexAfter);
    if (!result.after) {
        result.failedStep = "read back";
        result.after = done;
    } else if (result.after->id != wanted.id) {
        result.failedStep = "read back ID";
    } else if (result.after->mode != wanted.mode) {
        result.failedStep = "read back mode";
    } else {
        result.outcome = ReaderResult::Outcome::Ok;
    }
}

void Provisioner::waitUntilGone(int lineIndex, const std::string &serial)
{
    int missed = 0;
    while (missed < kMissesForGone && !m_bench.interrupted()) {
        const std::optional<std::string> answered = m_bench.probe(lineIndex);
        if (answered && *answered != serial)
            return; // swapped without a pause: the next one is already there
        missed = answered ? 0 : missed + 1;
        m_bench.pause(answered ? kProbePeriodMs : kPauseAfterMissMs);
    }
}

std::array<int, 3> Provisioner::wantedMode(const std::array<int, 3> &own) const
{
    return {m_plan.output.value_or(own[0]), m_plan.wiegand.value_or(own[1]),
            m_plan.rs485.value_or(own[2])};
}

bool Provisioner::changesMode() const
{
    return m_plan.output || m_plan.wiegand || m_plan.rs485;
}

} // namespace kt::cli

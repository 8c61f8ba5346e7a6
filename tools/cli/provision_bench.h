#pragma once

// The Bench of kt4500ctl provision: the reader operations of kt::ops on one port, driven on
// a TerminalView as the other commands drive them.

#include "ops/operations.h"
#include "provision.h"
#include "terminal_view.h"

#include <functional>

namespace kt::cli
{

class OpsBench final : public Bench
{
public:
    // ctx.view must be view; ctx.settings.portNumber is the port, and ctx.store nullptr (the
    // bench stores nothing). pump is one pass of the run's event pump (where interrupts are
    // noticed); interrupted tells whether one came.
    OpsBench(ops::Context ctx, TerminalView &view, std::function<void()> pump,
             std::function<bool()> interrupted);

    std::optional<std::string> probe(int lineIndex) override;
    std::optional<ReaderRead> read(int lineIndex) override;
    bool setId(int lineIndex, int id) override;
    bool setMode(int lineIndex, const std::array<int, 3> &mode) override;
    bool setLineSettings(int lineIndex, int newLineIndex) override;
    void pause(std::uint32_t ms) override;
    bool interrupted() override { return m_interrupted(); }

private:
    void useLineSettings(int lineIndex);

    ops::Context m_ctx;
    TerminalView &m_view;
    std::function<void()> m_pump;
    std::function<bool()> m_interrupted;
};

} // namespace kt::cli

#pragma once

// Helpers the reader operations share; not part of the ops interface.

#include "log/log.h"
#include "operations.h"
#include "reader_view.h"
#include "text/text_ids.h"
#include "text/text_table.h"

#include <optional>
#include <string>
#include <string_view>

// "kt4500.ops": why an operation refused or gave up, beyond what the window shows.
inline constexpr kt::log::Category lcOps{"kt4500.ops"};

namespace kt::ops
{

using namespace text::ids;

// Puts text into pnMsg and keeps it as the result's message.
void showMessage(ReaderView &view, Result &result, std::string_view text);

// How every operation ends: the comm lamp, then the text (when there is one), then the beep,
// which returns when the tone has ended. The outcome and the text go into result; text
// defaults to the text textId names.
void showOutcome(ReaderView &view, Result &result, Outcome outcome);
void showOutcome(ReaderView &view, Result &result, Outcome outcome, int textId,
                 std::optional<std::string_view> text = {});

// The beep that ends an operation.
void beepFor(ReaderView &view, Outcome outcome);

// The stored line-settings index where it selects a list item or names a candidate: the
// settings file may hold any number, so one outside the list stands for the default entry.
int usableLineSettingsIndex(int storedIndex);

} // namespace kt::ops

#pragma once

// Helpers the reader operations share; not part of the ops interface.

#include "log/log.h"
#include "reader_view.h"
#include "text/text_ids.h"

#include <optional>
#include <string>
#include <string_view>

// "kt4500.ops": why an operation refused or gave up, beyond what the window shows.
inline constexpr kt::log::Category lcOps{"kt4500.ops"};

namespace kt::ops
{

using namespace text::ids;

// How every operation ends: the comm lamp, then the text (when there is one), then the beep,
// which returns when the tone has ended.
void showOutcome(ReaderView &view, bool success, std::optional<std::string_view> text = {});

// The stored line-settings index where it selects a list item or names a candidate: the
// settings file may hold any number, so one outside the list stands for the default entry.
int usableLineSettingsIndex(int storedIndex);

} // namespace kt::ops

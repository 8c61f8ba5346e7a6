#pragma once

// Helpers the reader operations share; not part of the ops interface.

#include "log/log.h"
#include "reader_view.h"

#include <optional>
#include <string>
#include <string_view>

// "kt4500.ops": why an operation refused or gave up, beyond what the window shows.
inline constexpr kt::log::Category lcOps{"kt4500.ops"};

namespace kt::ops
{

// TextTable entries the operations show.
constexpr int kTextStartScanReader = 2;
constexpr int kTextCancelReadCard = 3;
constexpr int kTextCardId = 14;
constexpr int kTextOpenCom = 15;
constexpr int kTextError = 16;
constexpr int kTextScanReader = 17;
constexpr int kTextSerial = 18;
constexpr int kTextVersion = 19;
constexpr int kTextScanCom = 20;
constexpr int kTextInfoOk = 21;
constexpr int kTextInfoError = 22;
constexpr int kTextReaderNotFind = 23;
constexpr int kTextSetReaderId = 24;
constexpr int kTextSetReaderIdOk = 25;
constexpr int kTextSetReaderIdError = 26;
constexpr int kTextSetBaudRate = 27;
constexpr int kTextSetBaudRateOk = 28;
constexpr int kTextSetBaudRateError = 29;
constexpr int kTextSetMode = 30;
constexpr int kTextSetModeOk = 31;
constexpr int kTextSetModeError = 32;
constexpr int kTextDefaultWiegand = 33;
constexpr int kTextDefaultRS485 = 40;

// How every operation ends: the comm lamp, then the text (when there is one), then the beep,
// which returns when the tone has ended.
void showOutcome(ReaderView &view, bool success, std::optional<std::string_view> text = {});

// The stored line-settings index where it selects a list item or names a candidate: the
// settings file may hold any number, so one outside the list stands for the default entry.
int usableLineSettingsIndex(int storedIndex);

} // namespace kt::ops

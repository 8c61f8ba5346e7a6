#pragma once

// The numbers of the text table's entries that code shows by number, named once.

namespace kt::text::ids
{

constexpr int kTextStartScanReader = 2;
constexpr int kTextCancelReadCard = 3;
constexpr int kTextId = 4;
constexpr int kTextBaudRate = 5;
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

} // namespace kt::text::ids

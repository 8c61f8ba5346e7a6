#pragma once

// The numbers of the text table's entries that code shows by number, named once.

namespace kt::text::ids
{

constexpr int kTextMakerLine = 0;
constexpr int kTextTitle = 1;
constexpr int kTextStartScanReader = 2;
constexpr int kTextCancelReadCard = 3;
constexpr int kTextId = 4;
constexpr int kTextBaudRate = 5;
constexpr int kTextSetBaudRateButton = 6;
constexpr int kTextSetModeButton = 7;
constexpr int kTextReadCard = 8;
constexpr int kTextFactoryDefault = 9;
constexpr int kTextQuickSetting = 10;
constexpr int kTextDefaultPage = 11;
constexpr int kTextOtherPage = 12;
constexpr int kTextExit = 13;
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
constexpr int kTextDefaultWiegand26Ok = 34;
constexpr int kTextDefaultWiegand26Error = 35;
constexpr int kTextDefaultWiegand34Ok = 36;
constexpr int kTextDefaultWiegand34Error = 37;
constexpr int kTextDefaultWiegand42Ok = 38;
constexpr int kTextDefaultWiegand42Error = 39;
constexpr int kTextDefaultRS485 = 40;
constexpr int kTextDefaultRS485_24Ok = 43;
constexpr int kTextDefaultRS485_24Error = 44;
constexpr int kTextDefaultRS485_115200Ok = 45;
constexpr int kTextDefaultRS485_115200Error = 46;

} // namespace kt::text::ids

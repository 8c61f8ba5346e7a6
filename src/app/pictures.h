#pragma once

#include "ops/operations.h"

#include <QFont>
#include <QIcon>
#include <QPixmap>

namespace kt::app
{

// The window's font at a pixel size. Its first family must hold every Chinese character of
// the text table: Qt draws empty boxes without a warning when the primary font lacks a glyph.
QFont uiFont(int pixelSize, bool bold);

// The pictures of the window, drawn here rather than loaded, so there are no files to ship.
namespace pictures
{

QPixmap magnifier();     // 16 x 16, btnScan
QPixmap settingSymbol(); // 16 x 16, btnID
QPixmap telephone();     // 16 x 16, btnBaudRate
QPixmap reader();        // 16 x 16, btnMode
QPixmap cardWithWaves(); // 20 x 20, btnReadCard

// 100 x 50: a small reader and TALVO in blue on top, the preset's label in red below.
QPixmap preset(ops::Preset preset);

QPixmap simplifiedChinese();  // 34 x 16, the characters of btnGB in red
QPixmap traditionalChinese(); // 34 x 16, the characters of btnBIG5 in red

// 32 x 32: a reader with a red, a green and a yellow light, TALVO in blue across it.
QIcon windowIcon();
// The same drawing at size x size pixels, for the desktop's icon theme.
QPixmap windowIconPixmap(int size);

} // namespace pictures
} // namespace kt::app

#include "pictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>

#include <cmath>
#include <numbers>

namespace kt::app
{

QFont uiFont(int pixelSize, bool bold)
{
    QFont font;
    // WenQuanYi Micro Hei is what the set-up script installs; the others are the CJK fonts
    // other distributions ship. Each holds the Latin letters as well.
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Source Han Sans SC"),
                      QStringLiteral("Droid Sans Fallback"), QStringLiteral("sans-serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

namespace pictures
{
namespace
{

const QColor kTalvoBlue(0, 0, 200);
const QColor kLabelRed(220, 0, 0);

// A transparent picture of width x height in the window's units. Its pixels are as many as
// the screen shows for them (twice as many each way at a scale of 2), so that the drawing is
// as sharp on a larger screen as it is at 96 dpi rather than an enlarged copy.
QPixmap blank(int width, int height, qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0)
{
    QPixmap pixmap(QSizeF(width * ratio, height * ratio).toSize());
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

class Canvas : public QPainter
{
public:
    explicit Canvas(QPixmap &pixmap)
        : QPainter(&pixmap)
    {
        setRenderHint(Antialiasing);
    }
};

// A card reader seen from the front: a dark body with a light and a card slot.
void drawReaderSymbol(QPainter &p, const QRectF &body, const QColor &light)
{
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(70, 70, 80));
    p.drawRoundedRect(body, body.width() / 5, body.width() / 5);
    const qreal unit = body.width() / 6;
    p.setPen(Qt::NoPen);
    p.setBrush(light);
    p.drawEllipse(QPointF(body.center().x(), body.top() + 1.6 * unit), unit, unit);
    p.setBrush(QColor(180, 180, 190));
    p.drawRect(QRectF(body.left() + unit, body.bottom() - 2 * unit, 4 * unit, unit * 0.8));
}

void drawLabel(QPainter &p, const QRect &box, int pixelSize, const QColor &colour,
               const QString &text)
{
    p.setFont(uiFont(pixelSize, true));
    p.setPen(colour);
    p.drawText(box, Qt::AlignCenter, text);
}

} // namespace

QPixmap magnifier()
{
    QPixmap pixmap = blank(16, 16);
    Canvas p(pixmap);
    p.setPen(QPen(QColor(90, 60, 30), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(QColor(170, 220, 255));
    p.drawEllipse(QPointF(6.5, 6.5), 5, 5);
    p.setPen(QPen(Qt::white, 1.2));
    p.drawArc(QRectF(3.5, 3.5, 6, 6), 100 * 16, 70 * 16);
    return pixmap;
}

QPixmap settingSymbol()
{
    QPixmap pixmap = blank(16, 16);
    Canvas p(pixmap);
    const QPointF centre(8, 8);
    QPainterPath gear;
    constexpr int kTeeth = 8;
    for (int i = 0; i < kTeeth * 2; ++i) {
        const double angle = i * std::numbers::pi / kTeeth;
        const double radius = (i % 2 == 0) ? 7.5 : 5.5;
        const QPointF point(centre.x() + radius * std::cos(angle),
                            centre.y() + radius * std::sin(angle));
        if (i == 0)
            gear.moveTo(point);
        else
            gear.lineTo(point);
    }
    gear.closeSubpath();
    gear.addEllipse(centre, 2.5, 2.5);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(150, 150, 160));
    p.drawPath(gear);
    return pixmap;
}

QPixmap telephone()
{
    QPixmap pixmap = blank(16, 16);
    Canvas p(pixmap);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(200, 30, 30));
    // Handset across the top, resting on the body.
    p.drawRoundedRect(QRectF(1, 1.5, 14, 4), 2, 2);
    QPainterPath body;
    body.moveTo(4, 5.5);
    body.lineTo(12, 5.5);
    body.lineTo(15, 14.5);
    body.lineTo(1, 14.5);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8, 10.5), 2.5, 2.5);
    return pixmap;
}

QPixmap reader()
{
    QPixmap pixmap = blank(16, 16);
    Canvas p(pixmap);
    drawReaderSymbol(p, QRectF(3.5, 0.5, 9, 15), QColor(0, 220, 0));
    return pixmap;
}

QPixmap cardWithWaves()
{
    QPixmap pixmap = blank(20, 20);
    Canvas p(pixmap);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(240, 240, 255));
    p.drawRoundedRect(QRectF(0.5, 8.5, 13, 10), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 90, 200));
    p.drawRect(QRectF(1, 11, 12, 2));
    p.setBrush(QColor(230, 180, 40));
    p.drawRect(QRectF(2.5, 14.5, 3, 2.5));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 120, 220), 1.3, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const qreal r = 3.0 + 3.0 * i;
        p.drawArc(QRectF(13 - r, 7 - r, 2 * r, 2 * r), 0 * 16, 90 * 16);
    }
    return pixmap;
}

QPixmap preset(ops::Preset which)
{
    struct Label {
        QString first;
        QString second;
    };
    const QString tm = QStringLiteral("Wiegand\u2122 ");
    Label label;
    switch (which) {
    case ops::Preset::FactoryW26:
        label = {tm + QStringLiteral("26Bits"), {}};
        break;
    case ops::Preset::Wiegand34:
        label = {tm + QStringLiteral("34Bits"), {}};
        break;
    case ops::Preset::Wiegand42:
        label = {tm + QStringLiteral("42Bits"), {}};
        break;
    case ops::Preset::RS485Wiegand:
        label = {QStringLiteral("RS485 24Bits"), QStringLiteral("19200,e,8,1")};
        break;
    case ops::Preset::RS485Fast:
        label = {QStringLiteral("RS485 32Bits"), QStringLiteral("115200,e,8,1")};
        break;
    }

    QPixmap pixmap = blank(100, 50);
    Canvas p(pixmap);
    drawReaderSymbol(p, QRectF(4.5, 1.5, 13, 22), QColor(0, 220, 0));
    drawLabel(p, QRect(18, 0, 82, 25), 22, kTalvoBlue, QStringLiteral("TALVO"));
    if (label.second.isEmpty()) {
        drawLabel(p, QRect(0, 26, 100, 22), 13, kLabelRed, label.first);
    } else {
        drawLabel(p, QRect(0, 25, 100, 13), 12, kLabelRed, label.first);
        drawLabel(p, QRect(0, 37, 100, 13), 12, kLabelRed, label.second);
    }
    return pixmap;
}

QPixmap simplifiedChinese()
{
    QPixmap pixmap = blank(34, 16);
    Canvas p(pixmap);
    drawLabel(p, QRect(0, 0, 34, 16), 15, kLabelRed, QStringLiteral("\u7C21\u4F53"));
    return pixmap;
}

QPixmap traditionalChinese()
{
    QPixmap pixmap = blank(34, 16);
    Canvas p(pixmap);
    drawLabel(p, QRect(0, 0, 34, 16), 15, kLabelRed, QStringLiteral("\u7E41\u9AD4"));
    return pixmap;
}

QPixmap windowIconPixmap(int size)
{
    // Drawn on a 32 x 32 grid and scaled, so the installed theme sizes are the same drawing.
    QPixmap pixmap = blank(size, size, 1.0);
    Canvas p(pixmap);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(90, 90, 100));
    p.drawRoundedRect(QRectF(4.5, 0.5, 23, 31), 4, 4);
    p.setPen(Qt::NoPen);
    const QColor lights[] = {QColor(255, 0, 0), QColor(0, 200, 0), QColor(255, 255, 0)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(lights[i]);
        p.drawEllipse(QPointF(10 + 6 * i, 6), 2.5, 2.5);
    }
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1, 12, 30, 10));
    drawLabel(p, QRect(0, 11, 32, 12), 10, kTalvoBlue, QStringLiteral("TALVO"));
    p.setBrush(QColor(180, 180, 190));
    p.drawRect(QRectF(9, 26, 14, 2));
    return pixmap;
}

QIcon windowIcon()
{
    QIcon icon(windowIconPixmap(32));
    icon.addPixmap(windowIconPixmap(64)); // for a desktop at twice the scale
    return icon;
}

} // namespace pictures
} // namespace kt::app

#include "lamp.h"

#include <QPainter>

namespace kt::app
{

QString colourName(const QColor &colour)
{
    const QRgb rgb = colour.rgb();
    if (rgb == qRgb(255, 0, 0))
        return QStringLiteral("red");
    if (rgb == qRgb(255, 255, 0))
        return QStringLiteral("yellow");
    if (rgb == qRgb(255, 255, 255))
        return QStringLiteral("white");
    return colour.name();
}

Lamp::Lamp(Shape shape, const QColor &colour, QWidget *parent)
    : QWidget(parent)
    , m_shape(shape)
{
    setAttribute(Qt::WA_OpaquePaintEvent); // see drawShape()
    setColour(colour);
}

void Lamp::setColour(const QColor &colour)
{
    if (colour == m_colour)
        return;
    m_colour = colour;
    setAccessibleDescription(colourName(colour));
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawPixmap(0, 0, picture(m_colour));
}

QPixmap Lamp::picture(const QColor &colour)
{
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    // A new size, screen or palette makes every kept picture stale; a handful is kept at most.
    if (m_pictures.size() >= 4)
        m_pictures.clear();
    if (!m_pictures.empty()) {
        const QPixmap &kept = m_pictures.front().second;
        if (kept.size() != pixels || kept.devicePixelRatio() != ratio
            || m_paletteKey != palette().cacheKey())
            m_pictures.clear();
    }
    m_paletteKey = palette().cacheKey();
    for (const auto &[rgba, kept] : m_pictures) {
        if (rgba == colour.rgba())
            return kept;
    }
    QPixmap drawn(pixels);
    drawn.setDevicePixelRatio(ratio);
    {
        QPainter p(&drawn);
        drawShape(p, colour);
    }
    m_pictures.emplace_back(colour.rgba(), drawn);
    return drawn;
}

void Lamp::drawShape(QPainter &p, const QColor &colour) const
{
    // The whole rectangle is painted, the panel's colour around the shape included, so a
    // blink repaints the lamp alone and not the panel and text beneath it.
    p.fillRect(rect(), palette().brush(backgroundRole()));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(colour);
    const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (m_shape == Shape::Circle) {
        // A circle as large as the smaller side, centred, as a circular shape control draws it.
        const qreal side = std::min(shape.width(), shape.height());
        QRectF circle(0, 0, side, side);
        circle.moveCenter(shape.center());
        p.drawEllipse(circle);
    } else {
        const qreal radius = std::min(shape.width(), shape.height()) / 4;
        p.drawRoundedRect(shape, radius, radius);
    }
}

} // namespace kt::app

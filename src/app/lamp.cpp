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
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(m_colour);
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

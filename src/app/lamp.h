#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>

#include <utility>
#include <vector>

namespace kt::app
{

// A filled shape with a one-pixel black outline: the comm lamp and the card lamp.
class Lamp : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor colour READ colour WRITE setColour)

public:
    enum class Shape { Circle, RoundedRectangle };

    Lamp(Shape shape, const QColor &colour, QWidget *parent = nullptr);

    QColor colour() const { return m_colour; }
    // Repaints, and keeps the accessible description (the colour's name) current.
    void setColour(const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // The lamp as painted in one colour, at the lamp's size and the screen's pixel ratio. The
    // busy blink alternates two colours five times a second: each is drawn once and then copied.
    QPixmap picture(const QColor &colour);
    void drawShape(QPainter &p, const QColor &colour) const;

    Shape m_shape;
    QColor m_colour;
    std::vector<std::pair<QRgb, QPixmap>> m_pictures;
    qint64 m_paletteKey = 0;
};

// "red", "yellow", "white" for the lamps' colours, else the #rrggbb name.
QString colourName(const QColor &colour);

} // namespace kt::app

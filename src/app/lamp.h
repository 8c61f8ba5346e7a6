#pragma once

#include <QColor>
#include <QWidget>

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
    Shape m_shape;
    QColor m_colour;
};

// "red", "yellow", "white" for the lamps' colours, else the #rrggbb name.
QString colourName(const QColor &colour);

} // namespace kt::app

#pragma once

#include <QPushButton>

namespace kt::app
{

// A push button that shows its icon centred above its caption (QPushButton puts it on the
// left). The caption wraps when it is wider than the button.
class PictureAboveButton : public QPushButton
{
    Q_OBJECT

public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace kt::app

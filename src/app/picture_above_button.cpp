#include "picture_above_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace kt::app
{

void PictureAboveButton::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    // The style draws the bevel and the focus frame; picture and caption are placed here.
    option.text.clear();
    option.icon = QIcon();
    p.drawControl(QStyle::CE_PushButton, option);

    const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    int textFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;
    textFlags |= style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this)
                     ? Qt::TextShowMnemonic
                     : Qt::TextHideMnemonic;
    constexpr int kGap = 6;
    const QSize picture = iconSize();
    const QRect textBounds = fontMetrics().boundingRect(area, textFlags, caption);
    const int total = picture.height() + (caption.isEmpty() ? 0 : kGap + textBounds.height());
    const int top = area.top() + std::max(0, (area.height() - total) / 2);

    const QRect pictureRect(area.left() + (area.width() - picture.width()) / 2, top,
                            picture.width(), picture.height());
    icon().paint(&p, pictureRect, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
    const QRect textRect(area.left(), pictureRect.bottom() + 1 + kGap, area.width(),
                         area.bottom() - pictureRect.bottom() - kGap);
    style()->drawItemText(&p, textRect, textFlags, option.palette, isEnabled(), caption,
                          QPalette::ButtonText);
}

} // namespace kt::app

#pragma once

#include <algorithm>

#include <QCheckBox>
#include <QLabel>
#include <QRect>
#include <QWidget>

// Dialog units as the templates give them, in pixels: a quarter of the average character width
// across, an eighth of the character height down, for the 9-point interface font.
constexpr int DluX(int x) { return x * 3 / 2; }
constexpr int DluY(int y) { return y * 13 / 8; }
constexpr QRect Dlu(int x, int y, int width, int height)
{
    return QRect(DluX(x), DluY(y), DluX(x + width) - DluX(x), DluY(y + height) - DluY(y));
}
constexpr QRect Dlu(QRect r) { return Dlu(r.x(), r.y(), r.width(), r.height()); }
constexpr QRect Dlu(int width, int height) { return Dlu(0, 0, width, height); }

// Grows every label and check box of a dialog to the size its text needs in the font at hand, about
// the same centre line, so that no text is clipped whatever font stands in for the templates' one.
inline void FitTexts(QWidget* dialog)
{
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        if (!qobject_cast<QLabel*>(widget) && !qobject_cast<QCheckBox*>(widget)) {
            continue;
        }
        const QSize need = widget->sizeHint();
        QRect r = widget->geometry();
        r.setWidth(std::max(r.width(), need.width()));
        if (need.height() > r.height()) {
            r.translate(0, -(need.height() - r.height()) / 2);
            r.setHeight(need.height());
        }
        widget->setGeometry(r);
    }
}

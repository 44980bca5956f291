#pragma once

#include <QLabel>
#include <QString>

class QStatusBar;

// One field of the status line: a fixed width, a text that always fits it, and the full text in its
// tooltip, which a click copies to the clipboard (or, for a field that copies nothing, shows at once).
class CStatusField : public QLabel {
public:
    enum class Click { Copy, Show };
    CStatusField(Click click, QWidget* parent);
    // Shows text and keeps full for the tooltip and the click; an empty full keeps no tooltip.
    void SetTexts(const QString& text, const QString& full);
    const QString& Full() const { return m_strFull; }
    // The width the text may take inside the field.
    int Room() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    Click m_click;
    QString m_strFull;
};

// The status line under a view of the picture (the main window's and the large view's): the plane
// point under the mouse, the plane width shown (and the scale, where the panel prints it as 0), the
// preview's state, and the deep-zoom summary in a place of its own. Every field has a fixed width,
// taken from the longest text it shows in the language at hand, so that nothing overlaps or moves;
// numbers are shortened to the digits that fit, marked with "…", and given whole in the tooltip.
class CStatusLine {
public:
    // Adds the fields to bar, which is width pixels wide.
    CStatusLine(QStatusBar* bar, int width);

    // Plane coordinates as full decimals; empty texts: the mouse is off the picture.
    void SetCoordinate(const QString& x, const QString& y);
    // The plane width shown; ratio, unless empty, the scale the panel cannot print; tooltip the view's
    // values in full.
    void SetWidth(const QString& width, const QString& ratio, const QString& tooltip);
    void SetState(const QString& text);
    // The deep zoom's summary as one text; empty when the view is shallow. Shown whole where it fits,
    // else as compact (the same figures, short) where that fits, else as "深度缩放…"; the whole text
    // is in the tooltip and shown on a click.
    void SetDeepSummary(const QString& text, const QString& compact = {});

    CStatusField* Coordinate() const { return m_coordinate; }
    CStatusField* Width() const { return m_width; }
    CStatusField* State() const { return m_state; }
    CStatusField* Deep() const { return m_deep; }

    // A decimal ("-0.7436438870371587", "2.08333e-1003") cut to at most digits significant digits,
    // trailing zeros dropped, "…" where digits were cut, the exponent kept.
    static QString ShortNumber(const QString& number, int digits);

private:
    CStatusField* m_coordinate;
    CStatusField* m_width;
    CStatusField* m_state;
    CStatusField* m_deep;
};

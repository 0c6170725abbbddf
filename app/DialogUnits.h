#pragma once
// Dialog units: a template's coordinates scaled by the dialog font, x by a
// quarter of the average character width, y by an eighth of the font height.
#include <QFont>
#include <QRect>
#include <QSize>

namespace quillon {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    // Base units in pixels: average width of the Latin letters (rounded the
    // way the dialog manager does) and the font's height.
    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

    // A rectangle (x, y, width, height) in dialog units to pixels.
    QRect Map(int x, int y, int width, int height) const;
    QSize MapSize(int width, int height) const;

private:
    int m_baseX;
    int m_baseY;
};

}  // namespace quillon

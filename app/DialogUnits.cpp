#include "app/DialogUnits.h"

#include <QFontMetrics>
#include <QString>

namespace quillon {

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (width / 26 + 1) / 2;
    m_baseY = fm.height();
}

QRect DialogUnits::Map(int x, int y, int width, int height) const {
    const int left = MulDiv(x, m_baseX, 4);
    const int top = MulDiv(y, m_baseY, 8);
    const int right = MulDiv(x + width, m_baseX, 4);
    const int bottom = MulDiv(y + height, m_baseY, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogUnits::MapSize(int width, int height) const {
    return QSize(MulDiv(width, m_baseX, 4), MulDiv(height, m_baseY, 8));
}

}  // namespace quillon

#include "app/shell/DialogUnits.h"

#include <QFontMetrics>

namespace lynx::platform {

DialogBaseUnits BaseUnitsOf(const QFont& font)
{
    // As Windows computes a dialog font's base units: the average width of the
    // 52 Latin letters, rounded, and the character height.
    QFontMetrics metrics(font);
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int width = metrics.horizontalAdvance(letters);
    DialogBaseUnits units;
    units.baseX = (width / 26 + 1) / 2;
    units.baseY = metrics.height();
    return units;
}

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy)
{
    int left = x * units.baseX / 4;
    int top = y * units.baseY / 8;
    int right = (x + cx) * units.baseX / 4;
    int bottom = (y + cy) * units.baseY / 8;
    return QRect(left, top, right - left, bottom - top);
}

QFont DialogFont(int pointSize)
{
    QFont font(QStringLiteral("WenQuanYi Micro Hei"), pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace lynx::platform

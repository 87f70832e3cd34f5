// Dialog units, converted to pixels from the dialog font's metrics as Windows
// does: x * baseX / 4 and y * baseY / 8.
#pragma once

#include <QFont>
#include <QRect>

namespace lynx::platform {

struct DialogBaseUnits {
    int baseX = 0;  // average width of the font's Latin letters, rounded
    int baseY = 0;  // height of the font's characters
};

DialogBaseUnits BaseUnitsOf(const QFont& font);
QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy);

// The dialog font: the template's "MS Shell Dlg" at its point size, rendered
// with a font that has the Chinese characters.
QFont DialogFont(int pointSize);

} // namespace lynx::platform

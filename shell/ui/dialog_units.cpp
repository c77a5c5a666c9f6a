// The average character width is that of the 52 Latin letters, rounded to the nearest
// pixel, as the dialog manager computes its base unit.
#include "shell/ui/dialog_units.h"

#include <QFontMetrics>

namespace zelvik::shell::ui {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    base_x_ = (letters / 26 + 1) / 2;
    base_y_ = metrics.height();
}

}  // namespace zelvik::shell::ui

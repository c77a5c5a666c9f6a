// Dialog units to pixels, the way the desktop this window was laid out for converts
// them: horizontal units are a quarter of the font's average character width, vertical
// units an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>

namespace zelvik::shell::ui {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const { return (units * base_x_ + 2) / 4; }
    int y(int units) const { return (units * base_y_ + 4) / 8; }
    QRect rect(int left, int top, int width, int height) const {
        return {x(left), y(top), x(width), y(height)};
    }

    int base_x() const { return base_x_; }  // average character width, pixels
    int base_y() const { return base_y_; }  // character height, pixels

private:
    int base_x_;
    int base_y_;
};

}  // namespace zelvik::shell::ui

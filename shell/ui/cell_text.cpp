// Cell texts. The shortening removes characters from the end one at a time, as the row
// drawing of the list always did, rather than Qt's own eliding (which may cut in the
// middle or choose another ellipsis glyph).
#include "shell/ui/cell_text.h"

#include <QFontMetrics>

#include <cstdio>

#include "common/civil_time.h"

namespace zelvik::shell::ui {

namespace {
const QString kEllipsis = QStringLiteral("...");
const QString kNoEvent = QStringLiteral("No event yet");
}  // namespace

QString elide_cell_text(const QString& text, const QFontMetrics& metrics, int cell_width) {
    const QString fetched = text.left(kCellTextLimit);
    const int room = cell_width - 4;
    if (metrics.horizontalAdvance(fetched) <= room) return fetched;
    for (qsizetype keep = fetched.size() - 1; keep >= 0; --keep) {
        const QString shortened = fetched.left(keep) + kEllipsis;
        if (metrics.horizontalAdvance(shortened) <= room) return shortened;
    }
    return fetched;
}

QString list_time_text(double epoch) {
    const common::Civil c = common::civil_from_epoch(epoch);
    char text[64];
    std::snprintf(text, sizeof text, "%2.2d/%2.2d/%2.2d %2.2d:%2.2d:%2.2f", c.day, c.month, c.year,
                  c.hour, c.minute, c.second);
    return QString::fromLatin1(text);
}

QString event_time_text(double epoch) {
    return epoch == 0.0 ? kNoEvent : list_time_text(epoch);
}

}  // namespace zelvik::shell::ui

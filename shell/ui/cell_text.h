// Texts of the channel list cells and how a cell shortens one that does not fit: the
// list shows the texts the supervisor wrote, cut with "..." the way the rows are drawn.
#pragma once

#include <QString>

class QFontMetrics;

namespace zelvik::shell::ui {

// A cell's text is fetched with a limit of 127 characters.
inline constexpr int kCellTextLimit = 127;

// The text drawn in a cell `cell_width` pixels wide: `text` itself when it fits in
// cell_width - 4; else the longest head of it followed by "..." that fits there; else,
// when not even "..." fits, the whole text (the painter clips it to the cell).
QString elide_cell_text(const QString& text, const QFontMetrics& metrics, int cell_width);

// Column 4 and 5 form of an instant: "%2.2d/%2.2d/%2.2d %2.2d:%2.2d:%2.2f" with the
// UTC day, month, year, hour, minute and seconds with hundredths.
QString list_time_text(double epoch);

// Column 5: "No event yet" for 0, else list_time_text.
QString event_time_text(double epoch);

}  // namespace zelvik::shell::ui

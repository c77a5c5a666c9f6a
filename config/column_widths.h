// The main window's list column widths, kept as LISTBOXHEADER HDRSIZE in zelvik.ini:
// twelve decimal pixel widths joined by ",".
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace zelvik::config {

inline constexpr int kListColumns = 12;
using ColumnWidths = std::array<int, kListColumns>;  // pixels, in column order

// Applies an HDRSIZE text to `widths`: each number greater than 0 sets its column,
// 0, negative or non-numeric entries keep the column's width; reading stops after
// twelve columns or when no "," follows. An empty text changes nothing.
void parse_column_widths(std::string_view text, ColumnWidths& widths);

// The HDRSIZE text of `widths`: twelve "%d" joined by ",".
std::string format_column_widths(const ColumnWidths& widths);

// Reads HDRSIZE (127 characters) from the settings file into `widths`.
void read_column_widths(const std::string& settings_path, ColumnWidths& widths);

// Writes HDRSIZE into the settings file; false (ini::last_error()) when it failed.
[[nodiscard]] bool write_column_widths(const std::string& settings_path,
                                       const ColumnWidths& widths);

}  // namespace zelvik::config

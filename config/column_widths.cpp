// HDRSIZE parsing and writing. The text is cut to 127 characters before parsing, so a
// damaged entry cannot run past the twelve columns.
#include "config/column_widths.h"

#include "common/text.h"
#include "config/ini_file.h"

namespace zelvik::config {

void parse_column_widths(std::string_view text, ColumnWidths& widths) {
    if (text.empty()) return;
    for (int column = 0; column < kListColumns; ++column) {
        const size_t comma = text.find(',');
        const int width = common::leading_int(text.substr(0, comma));
        if (width > 0) widths[static_cast<size_t>(column)] = width;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
}

std::string format_column_widths(const ColumnWidths& widths) {
    std::string text;
    for (size_t i = 0; i < widths.size(); ++i) {
        if (i > 0) text += ',';
        text += std::to_string(widths[i]);
    }
    return text;
}

void read_column_widths(const std::string& settings_path, ColumnWidths& widths) {
    parse_column_widths(ini::read_string(settings_path, "LISTBOXHEADER", "HDRSIZE", "", 128),
                        widths);
}

bool write_column_widths(const std::string& settings_path, const ColumnWidths& widths) {
    return ini::write_string(settings_path, "LISTBOXHEADER", "HDRSIZE",
                             format_column_widths(widths));
}

}  // namespace zelvik::config

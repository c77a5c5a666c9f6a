// Edits of the channel table behind the channel page. Every operation moves whole
// entries, so a reorder never changes a value (no round trip through shown texts).
// Rows are the shown entries 0 .. channel_count-1; a row outside that range is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "editor/editor_settings.h"

namespace zelvik::editor {

// True when `row` is a shown row.
bool is_shown_row(const EditorSettings& s, int row);

// Inserts `entry` before row `at` (0 when `at` is not a shown row) and counts it.
// Returns the index it was given.
int insert_channel(EditorSettings& s, int at, const ChannelEntry& entry);
// Removes a shown row; false when `row` is not one.
bool remove_channel(EditorSettings& s, int row);
// Swaps a shown row with the one above / below; the new row, or -1 when nothing moved
// (no such row, first row up, last row down).
int move_channel_up(EditorSettings& s, int row);
int move_channel_down(EditorSettings& s, int row);
// Swaps two shown rows; false when either is not one or they are equal.
bool swap_channels(EditorSettings& s, int a, int b);
// Takes row `from` out and puts it in at row `to`; false when either is not a shown
// row or they are equal.
bool move_channel(EditorSettings& s, int from, int to);
// Orders the shown rows by station, byte by byte (strcmp order), ascending or
// descending; equal stations keep their order. Returns the permutation: new row i
// shows the entry that was at row result[i].
std::vector<int> sort_by_station(EditorSettings& s, bool descending);

// Index of the first of `codes` that begins with `stored` without regard to case, -1
// when none does.
int find_code_prefix(const std::vector<std::string>& codes, std::string_view stored);

// The shortest decimal text that reads back as exactly `value`, for the channel
// dialog: confirming an untouched field gives back the stored number.
std::string exact_number_text(double value);
// The list's text of a real: "%0.2f".
std::string list_number_text(double value);

}  // namespace zelvik::editor

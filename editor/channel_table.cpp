// Channel table edits and the small text helpers of the channel page and dialog.
#include "editor/channel_table.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <numeric>

#include "common/text.h"

namespace zelvik::editor {

bool is_shown_row(const EditorSettings& s, int row) {
    return row >= 0 && row < s.channel_count && row < static_cast<int>(s.channels.size());
}

int insert_channel(EditorSettings& s, int at, const ChannelEntry& entry) {
    if (!is_shown_row(s, at)) at = 0;
    s.channels.insert(s.channels.begin() + at, entry);
    ++s.channel_count;
    return at;
}

bool remove_channel(EditorSettings& s, int row) {
    if (!is_shown_row(s, row)) return false;
    s.channels.erase(s.channels.begin() + row);
    --s.channel_count;
    return true;
}

bool swap_channels(EditorSettings& s, int a, int b) {
    if (a == b || !is_shown_row(s, a) || !is_shown_row(s, b)) return false;
    std::swap(s.channels[static_cast<size_t>(a)], s.channels[static_cast<size_t>(b)]);
    return true;
}

int move_channel_up(EditorSettings& s, int row) {
    return swap_channels(s, row, row - 1) ? row - 1 : -1;
}

int move_channel_down(EditorSettings& s, int row) {
    return swap_channels(s, row, row + 1) ? row + 1 : -1;
}

bool move_channel(EditorSettings& s, int from, int to) {
    if (from == to || !is_shown_row(s, from) || !is_shown_row(s, to)) return false;
    ChannelEntry moved = std::move(s.channels[static_cast<size_t>(from)]);
    s.channels.erase(s.channels.begin() + from);
    s.channels.insert(s.channels.begin() + to, std::move(moved));
    return true;
}

std::vector<int> sort_by_station(EditorSettings& s, bool descending) {
    const int shown = std::min(s.channel_count, static_cast<int>(s.channels.size()));
    std::vector<int> order(static_cast<size_t>(std::max(shown, 0)));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = s.channels[static_cast<size_t>(a)].station.compare(
            s.channels[static_cast<size_t>(b)].station);
        return descending ? c > 0 : c < 0;
    });
    std::vector<ChannelEntry> sorted;
    sorted.reserve(order.size());
    for (int i : order) sorted.push_back(s.channels[static_cast<size_t>(i)]);
    std::move(sorted.begin(), sorted.end(), s.channels.begin());
    return order;
}

int find_code_prefix(const std::vector<std::string>& codes, std::string_view stored) {
    for (size_t i = 0; i < codes.size(); ++i) {
        if (common::istarts_with(codes[i], stored)) return static_cast<int>(i);
    }
    return -1;
}

std::string exact_number_text(double value) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

std::string list_number_text(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%0.2f", value);
    return text;
}

}  // namespace zelvik::editor

// Channel table edits: rows move as whole entries, so values survive every reorder.
#include "editor/channel_table.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace zelvik::editor {
namespace {

ChannelEntry named(const std::string& station) {
    ChannelEntry e;
    e.station = station;
    return e;
}

EditorSettings table(const std::vector<std::string>& stations) {
    EditorSettings s;
    for (const std::string& st : stations)
        s.channels.push_back({st, "BHZ", 1, 10, 3.14159, 0.123, 4.5678, 3, true});
    s.channel_count = static_cast<int>(stations.size());
    return s;
}

std::vector<std::string> stations(const EditorSettings& s) {
    std::vector<std::string> out;
    for (const ChannelEntry& e : s.channels) out.push_back(e.station);
    return out;
}

using Names = std::vector<std::string>;

TEST(ChannelTable, InsertAtSelectedRowOrFirst) {
    EditorSettings s = table({"A", "B", "C", "D"});
    EXPECT_EQ(insert_channel(s, 2, named("N")), 2);  // row 3 selected: the new one becomes row 3
    EXPECT_EQ(stations(s), (Names{"A", "B", "N", "C", "D"}));
    EXPECT_EQ(insert_channel(s, -1, named("F")), 0);  // no selection
    EXPECT_EQ(stations(s).front(), "F");
    EXPECT_EQ(s.channel_count, 6);
    EditorSettings empty;
    EXPECT_EQ(insert_channel(empty, -1, named("X")), 0);
    EXPECT_EQ(empty.channel_count, 1);
}

TEST(ChannelTable, RemoveTheOnlyAndRefuseHiddenRows) {
    EditorSettings s = table({"A"});
    EXPECT_TRUE(remove_channel(s, 0));
    EXPECT_EQ(s.channel_count, 0);
    EXPECT_TRUE(s.channels.empty());
    EXPECT_FALSE(remove_channel(s, 0));
    EditorSettings hidden = table({"A", "B", "C"});
    hidden.channel_count = 1;  // THREADS=1 over three sections
    EXPECT_FALSE(remove_channel(hidden, 2));
    EXPECT_FALSE(remove_channel(hidden, -1));
    EXPECT_EQ(hidden.channels.size(), 3u);
}

TEST(ChannelTable, MovesAtTheEdgesChangeNothing) {
    EditorSettings s = table({"A", "B", "C"});
    EXPECT_EQ(move_channel_up(s, 0), -1);
    EXPECT_EQ(move_channel_down(s, 2), -1);
    EXPECT_EQ(move_channel_up(s, -1), -1);
    EXPECT_EQ(stations(s), (Names{"A", "B", "C"}));
    EXPECT_EQ(move_channel_up(s, 2), 1);
    EXPECT_EQ(stations(s), (Names{"A", "C", "B"}));
    EXPECT_EQ(move_channel_down(s, 0), 1);
    EXPECT_EQ(stations(s), (Names{"C", "A", "B"}));
    // The last shown row does not move into the hidden entries behind it.
    s.channel_count = 2;
    EXPECT_EQ(move_channel_down(s, 1), -1);
}

TEST(ChannelTable, SwapAndMoveKeepValuesWhole) {
    EditorSettings s = table({"A", "B", "C", "D"});
    s.channels[0].threshold = 3.14159;
    EXPECT_TRUE(swap_channels(s, 0, 2));
    EXPECT_EQ(stations(s), (Names{"C", "B", "A", "D"}));
    EXPECT_EQ(s.channels[2].threshold, 3.14159);
    EXPECT_FALSE(swap_channels(s, 1, 1));
    EXPECT_FALSE(swap_channels(s, 1, 7));  // stale row
    EXPECT_TRUE(move_channel(s, 2, 0));
    EXPECT_EQ(stations(s), (Names{"A", "C", "B", "D"}));
    EXPECT_EQ(s.channels[0].threshold, 3.14159);
    EXPECT_EQ(s.channels[0].fr1, 0.123);
    EXPECT_TRUE(move_channel(s, 0, 3));
    EXPECT_EQ(stations(s), (Names{"C", "B", "D", "A"}));
    EXPECT_FALSE(move_channel(s, -1, 0));
    EXPECT_EQ(s.channel_count, 4);
}

TEST(ChannelTable, SortAlternatesAndIsByteOrder) {
    EditorSettings s = table({"b", "B", "A", "a", "C"});
    s.channels[4].threshold = 2.71828;
    const Names ascending{"A", "B", "C", "a", "b"};
    const Names descending{"b", "a", "C", "B", "A"};
    bool descending_next = false;
    for (const Names* expected : {&ascending, &descending, &ascending}) {
        sort_by_station(s, descending_next);
        descending_next = !descending_next;
        EXPECT_EQ(stations(s), *expected);
    }
    EXPECT_EQ(s.channels[2].threshold, 2.71828);
    // Hidden entries stay behind the shown ones, unsorted.
    EditorSettings hidden = table({"Z", "Y", "A"});
    hidden.channel_count = 2;
    const std::vector<int> order = sort_by_station(hidden, false);
    EXPECT_EQ(stations(hidden), (Names{"Y", "Z", "A"}));
    EXPECT_EQ(order, (std::vector<int>{1, 0}));
}

TEST(ChannelTable, PrefixMatchFirstInListOrder) {
    struct Case {
        std::vector<std::string> codes;
        const char* stored;
        int expected;
    };
    const Case cases[] = {
        {{"ABC", "ABD"}, "AB", 0}, {{"AB", "ABC"}, "AB", 0}, {{"AAA", "ABC"}, "ab", 1},
        {{"XYZ"}, "AB", -1},       {{}, "AB", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(find_code_prefix(c.codes, c.stored), c.expected) << c.stored;
}

TEST(ChannelTable, DialogNumbersReadBackExactly) {
    for (double v : {3.14159, 0.1, 2.0, 12.3456789012, 1e-7, 0.0, -4.25}) {
        const std::string text = exact_number_text(v);
        EXPECT_EQ(common::leading_double(text), v) << text;
    }
    EXPECT_EQ(list_number_text(3.14159), "3.14");
}

}  // namespace
}  // namespace zelvik::editor

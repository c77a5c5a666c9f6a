// The channel's checks come first (codes, dates, then the response itself), so that
// a skipped channel costs no statement. Rows are written one by one, each committed on
// its own like a --sac row, so one bad row does not take the others back.
#include "tools/stationxml_store.h"

#include <cstdio>
#include <ostream>
#include <vector>

#include "db/store_catalog.h"
#include "tools/displacement_paz.h"
#include "tools/response_row.h"
#include "tools/stationxml_reader.h"

namespace zelvik::tools {
namespace {

// "NET.STA.LOC.CHA", the way operators name a channel.
std::string channel_id(const StationXmlChannel& ch) {
    return ch.network + "." + ch.station + "." + ch.location + "." + ch.channel;
}

std::string date_text(const DateFields& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour,
                  d.minute, d.second);
    return buf;
}

// Fills `row` from the channel's codes and dates; "" or why it cannot be stored.
std::string row_of(const StationXmlChannel& ch, ResponseRow& row) {
    row.sac = true;
    row.codes[0] = ch.station;
    row.codes[1] = ch.channel;
    // No location is "??" throughout the store, as the --sac form stores it;
    // "--" is how some inventories write the empty code.
    row.codes[2] = ch.location.empty() || ch.location == "--" ? "??" : ch.location;
    row.codes[3] = ch.network;
    for (const std::string& code : row.codes)
        if (code.size() > 7) return "code \"" + code + "\" longer than 7 characters";
    if (ch.station.empty() || ch.channel.empty()) return "no station or channel code";
    if (ch.start_date.empty()) return "no start date";
    if (!utc_date_fields(ch.start_date, row.start))
        return "start date \"" + ch.start_date + "\" is not a date";
    row.has_end = !ch.end_date.empty();
    if (row.has_end && !utc_date_fields(ch.end_date, row.end))
        return "end date \"" + ch.end_date + "\" is not a date";
    return {};
}

}  // namespace

int store_stationxml_responses(const db::OdbcConnection& conn, const std::string& path,
                               std::ostream& out, std::ostream& err) {
    std::vector<StationXmlChannel> channels;
    std::string error;
    if (!read_stationxml(path, channels, error)) {
        err << "zelvik-store: response: " << error << "\n";
        return 1;
    }
    db::StoreCatalog catalog;
    catalog.build(conn);
    size_t stored = 0, failed = 0;
    for (const StationXmlChannel& ch : channels) {
        ResponseRow row;
        DisplacementPaz paz;
        std::string reason = row_of(ch, row);
        if (reason.empty()) reason = displacement_paz(ch, paz);
        if (!reason.empty()) {
            out << "response: " << channel_id(ch) << " skipped: " << reason << "\n";
            continue;
        }
        if (paz.a0_recomputed)
            out << "response: " << channel_id(ch) << ": A0 " << paz.a0_stated
                << " (rad/s) misses the sensitivity at " << paz.frequency
                << " Hz by more than 1 %; recomputed as " << paz.a0_used << "\n";
        row.text = paz.text;
        if (!store_response_row(conn, catalog, row, error)) {
            err << "zelvik-store: response: " << channel_id(ch) << ": " << error << "\n";
            ++failed;
            continue;
        }
        ++stored;
        out << "response: " << channel_id(ch) << " stored from " << date_text(row.start)
            << (row.has_end ? " to " + date_text(row.end) : std::string(" (open end)")) << ", "
            << paz.value << " counts/m at " << paz.frequency << " Hz\n";
    }
    if (stored == 0 && failed == 0)
        err << "zelvik-store: response: no channel of " << path << " could be stored\n";
    return stored > 0 && failed == 0 ? 0 : 1;
}

}  // namespace zelvik::tools

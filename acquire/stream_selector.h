// What a SeedLink client is asked for, as typed on a command line: the server as
// HOST[:PORT] and each stream as NET_STA or NET_STA:LOC.CHA, with ? and * wildcards.
// The selectors are turned into the command arguments of each protocol version here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::acquire {

inline constexpr uint16_t kDefaultSeedLinkPort = 18000;

struct ServerAddress {
    std::string host;  // name or address, without the brackets of an IPv6 literal
    uint16_t port = kDefaultSeedLinkPort;
};

// One selector argument. An empty `channel` means every stream of the station.
struct StreamSelector {
    std::string network, station;  // codes or patterns, upper case
    std::string location;          // "" = blank location code; "*" = any
    std::string channel;           // "" = any stream; else a 1-3 character pattern
    std::string station_id() const { return network + "_" + station; }
};

// "host", "host:port", "[::1]:port". false with `error` on an empty host or a port
// outside 1..65535.
[[nodiscard]] bool parse_server_address(std::string_view text, ServerAddress& out,
                                        std::string& error);

// "NET_STA", "NET_STA:LOC.CHA", "NET_STA:CHA" (any location), "NET_STA:.CHA" (blank
// location). Codes are letters, digits, ? and *; network up to 8 characters, station up
// to 8, location up to 2, channel up to 3. false with `error` naming the fault.
[[nodiscard]] bool parse_stream_selector(std::string_view text, StreamSelector& out,
                                         std::string& error);

// The argument of SELECT in protocol 3.1: LLCCC with ? wildcards ("--" for a blank
// location; "*" widened to ?s), or CCC for any location. Empty when the selector takes
// every stream.
std::string v3_select_pattern(const StreamSelector& s);

// The argument of SELECT in protocol 4.0: a stream ID pattern LOC_B_S_SS ("00_B_H_Z",
// "*_B_H_?"). Empty when the selector takes every stream.
std::string v4_select_pattern(const StreamSelector& s);

}  // namespace zelvik::acquire

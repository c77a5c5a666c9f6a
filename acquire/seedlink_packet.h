// Reading SeedLink packets off a connection. Protocol 3.1 frames a packet as "SL", six
// hex digits of sequence number and a miniSEED record whose length only the record's own
// blockette 1000 gives; 4.0 frames it as "SE", format, subformat, payload length,
// 64-bit sequence number and station ID, all little-endian.
#pragma once

#include <cstdint>
#include <string>

#include "acquire/tcp_connection.h"

namespace zelvik::acquire {

enum PacketStatus : int {
    kPacketOk = 0,
    kPacketGarbage = -20,  // no "SL"/"SE" signature, or a header that cannot be framed
    kPacketEnd = -21,      // the server sent END: it has nothing more for this session
};

struct Packet {
    bool info = false;       // a reply to INFO ("SLINFO" in 3.1, format J in 4.0)
    char format = '2';       // 4.0 format code; '2' (miniSEED 2) for every 3.1 packet
    char subformat = 'D';    // 4.0 subformat code
    uint64_t sequence = 0;   // 24 bits in 3.1, 64 in 4.0
    std::string station_id;  // NET_STA from the 4.0 header; empty in 3.1
    std::string payload;     // the record or document
};

// Largest payload accepted in 4.0: above it a length field is taken for garbage.
inline constexpr uint32_t kMaxPayloadBytes = 16u << 20;

// Reads one packet within `timeout_s` in protocol `major` (3 or 4). @retval kPacketOk,
// kPacketGarbage or kPacketEnd with `error` saying what was seen, or an IoStatus.
[[nodiscard]] int read_packet(TcpConnection& connection, int major, double timeout_s,
                              Packet& packet, std::string& error);

// The first bytes of `bytes`, printable ones as they are and others as \xNN.
std::string printable_prefix(const std::string& bytes, size_t count = 16);

}  // namespace zelvik::acquire

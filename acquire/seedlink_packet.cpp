// A 3.1 record is read in two steps: its first 128 bytes (the smallest record) give the
// blockette chain and so the length; the legacy length of 512 bytes is assumed only when
// the first 512 bytes hold no blockette 1000.
#include "acquire/seedlink_packet.h"

#include <cstdio>

#include "acquire/mseed_record_check.h"

namespace zelvik::acquire {
namespace {

constexpr size_t kV3Header = 8;
constexpr size_t kV4Header = 17;
constexpr size_t kMinRecord = 128;
constexpr size_t kLegacyRecord = 512;

uint64_t little_endian(const std::string& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

bool hex_sequence(const std::string& header, uint64_t& sequence) {
    sequence = 0;
    for (size_t i = 2; i < kV3Header; ++i) {
        const char c = header[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) return false;
        sequence = sequence << 4 | static_cast<uint64_t>(digit);
    }
    return true;
}

// Reads a miniSEED 2 record whose length the record itself announces.
// An INFO record that cannot be framed is taken at the legacy length: it is skipped anyway.
int read_v3_record(TcpConnection& c, double timeout_s, bool info, std::string& record,
                   std::string& error) {
    if (const int r = c.read_exact(kMinRecord, record, timeout_s); r != kIoOk) return r;
    size_t length = 0;
    int found = announced_record_length(record, length, error);
    if (found == 0) {
        std::string more;
        if (const int r = c.read_exact(kLegacyRecord - kMinRecord, more, timeout_s); r != kIoOk)
            return r;
        record += more;
        found = announced_record_length(record, length, error);
        if (found <= 0 && info) found = 0;
        if (found == 0) length = kLegacyRecord;
    }
    if (found < 0 && info) {
        found = 0;
        length = kLegacyRecord;
    }
    if (found < 0) {
        error = "packet is not a miniSEED 2 record (" + error + ")";
        return kPacketGarbage;
    }
    if (length > record.size()) {
        std::string rest;
        if (const int r = c.read_exact(length - record.size(), rest, timeout_s); r != kIoOk)
            return r;
        record += rest;
    }
    return kPacketOk;
}

int read_v3(TcpConnection& c, double timeout_s, Packet& p, std::string& error) {
    std::string header;
    if (const int r = c.read_exact(kV3Header, header, timeout_s); r != kIoOk) return r;
    p = Packet{};
    if (header.compare(0, 6, "SLINFO") == 0) {
        p.info = true;
    } else if (header.compare(0, 3, "END") == 0) {
        error = "the server ended the transfer";
        return kPacketEnd;
    } else if (header.compare(0, 2, "SL") != 0 || !hex_sequence(header, p.sequence)) {
        error = "no SeedLink 3 packet header: '" + printable_prefix(header) + "'";
        return kPacketGarbage;
    }
    return read_v3_record(c, timeout_s, p.info, p.payload, error);
}

int read_v4(TcpConnection& c, double timeout_s, Packet& p, std::string& error) {
    std::string header;
    if (const int r = c.read_exact(kV4Header, header, timeout_s); r != kIoOk) return r;
    p = Packet{};
    if (header.compare(0, 3, "END") == 0) {
        error = "the server ended the transfer";
        return kPacketEnd;
    }
    if (header.compare(0, 2, "SE") != 0) {
        error = "no SeedLink 4 packet header: '" + printable_prefix(header) + "'";
        return kPacketGarbage;
    }
    p.format = header[2];
    p.subformat = header[3];
    const auto length = static_cast<uint32_t>(little_endian(header, 4, 4));
    p.sequence = little_endian(header, 8, 8);
    const auto id_length = static_cast<size_t>(static_cast<unsigned char>(header[16]));
    if (length > kMaxPayloadBytes) {
        error = "packet announces " + std::to_string(length) + " bytes of payload";
        return kPacketGarbage;
    }
    p.info = p.format == 'J';
    if (const int r = c.read_exact(id_length, p.station_id, timeout_s); r != kIoOk) return r;
    return c.read_exact(length, p.payload, timeout_s);
}

}  // namespace

int read_packet(TcpConnection& connection, int major, double timeout_s, Packet& packet,
                std::string& error) {
    return major >= 4 ? read_v4(connection, timeout_s, packet, error)
                      : read_v3(connection, timeout_s, packet, error);
}

std::string printable_prefix(const std::string& bytes, size_t count) {
    std::string out;
    for (size_t i = 0; i < bytes.size() && i < count; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace zelvik::acquire

// Structure checks of miniSEED 2 records before libmseed sees them. libmseed follows the
// blockette chain and the sample count as the record gives them, so a chain that points
// back at itself, or a count the record cannot hold, reads beyond the record; every
// record is walked here first.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::acquire {

// What the fixed header and blockette 1000 of one record say.
struct RecordLayout {
    size_t length = 0;            // bytes, 2^n from blockette 1000
    int encoding = -1;            // SEED data encoding code (3 = int32, 11 = Steim 2, ...)
    bool big_endian_data = true;  // word order of blockette 1000
    size_t data_offset = 0;       // bytes from the record's start; 0 when there are no samples
    unsigned sample_count = 0;    // as the fixed header declares it
};

// Checks every record of a whole miniSEED file: a plausible fixed header (sequence
// number, quality code, start year and day), a record length of 128 bytes to 1 MiB
// (blockette 1000, else up to the next plausible header), blockette offsets strictly
// increasing and inside the record, the data offset inside the record, a sample count
// the data area can hold in the record's encoding (where blockette 1000 names it), and
// the last record complete. false with `error` ("blockette chain loops in the record at
// byte 4096", ...) at the first fault. Pure: no I/O, no global state.
// `lengths` receives the length of each record in file order.
[[nodiscard]] bool check_miniseed_records(std::string_view bytes, std::vector<size_t>& lengths,
                                          std::string& error);

// The record length blockette 1000 announces, from the first bytes of a record as they
// arrive on a stream. @retval 1 found (`length` set), 0 no blockette 1000 within `head`
// (more bytes may hold it), -1 not a miniSEED 2 header or a broken chain (`error` set).
[[nodiscard]] int announced_record_length(std::string_view head, size_t& length,
                                          std::string& error);

// Checks one whole record as it will be handed to libmseed: its blockette 1000 length
// equal to record.size(), the chain and data offset inside it, an encoding libmseed
// decodes and a sample count that fits the data area in that encoding. false with
// `error` naming the fault and its values. Pure.
[[nodiscard]] bool check_miniseed_record(std::string_view record, RecordLayout& layout,
                                         std::string& error);

// Whether `count` samples of SEED `encoding` fit in `data_bytes` bytes. false for
// encodings libmseed 2 cannot decode.
[[nodiscard]] bool samples_fit(int encoding, size_t data_bytes, unsigned count);

}  // namespace zelvik::acquire

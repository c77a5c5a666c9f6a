// A channel's instrument response, read from the texts of the response tables: poles and
// zeros (PAZ) or a frequency-amplitude-phase table (FAP). evaluate() gives the amplitude
// response in counts per metre of displacement at one frequency; 0 or below means unusable.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvik::detect {

enum class ResponseKind : int16_t { kNone = 0, kPaz = 1, kFap = 2 };

struct FapEntry {
    double frequency;  // Hz
    double amplitude;  // counts per metre
    double phase;      // read, never used
};

class InstrumentResponse {
public:
    // Largest counts a PAZ text may announce, and entries a FAP table may hold; a text
    // beyond them is refused rather than allowed to allocate without bound.
    static constexpr int kMaxPazCount = 100;
    static constexpr int kMaxFapEntries = 100000;

    // Reads a pole-zero text ("ZEROS n", zeros, "POLES m", poles, "CONSTANT c"; tokens
    // separated by any run of '|', ';' and newlines) and sets the kind to PAZ whatever
    // the outcome. Zeros announced but not listed lie at the origin.
    // @retval false empty text, a missing keyword, a count below 0 or above kMaxPazCount,
    //               or a number that is not finite; the response then evaluates to 0
    //               (no conversion). Does not log.
    [[nodiscard]] bool parse_paz(std::string_view text);

    // Reads a frequency-amplitude-phase text (entries "f a p" separated like the PAZ
    // tokens) and sets the kind to FAP. Entries with frequency or amplitude 0, with a
    // value that is not finite, or without numbers are dropped; the table is sorted by
    // frequency (stable, so equal frequencies keep their text order).
    // @retval false no usable entry, or more than kMaxFapEntries; the table is empty then.
    [[nodiscard]] bool parse_fap(std::string_view text);

    // Amplitude response at f Hz. PAZ: constant x |N(jw) / D(jw)|, 0 on any fault or when
    // the text did not parse. FAP: linear interpolation in single precision, 0 outside the
    // table, -1 for an empty table. NONE: 0.
    double evaluate(float f) const;

    ResponseKind kind() const { return kind_; }
    const std::vector<FapEntry>& table() const { return table_; }
    const std::vector<std::complex<double>>& zeros() const { return zeros_; }
    const std::vector<std::complex<double>>& poles() const { return poles_; }
    double constant() const { return constant_; }

private:
    double evaluate_paz(float f) const;
    double evaluate_fap(float f) const;
    bool fail_paz();

    ResponseKind kind_ = ResponseKind::kNone;
    std::vector<FapEntry> table_;
    std::vector<std::complex<double>> zeros_;
    std::vector<std::complex<double>> poles_;
    double constant_ = 1.0;
    bool paz_usable_ = false;  // the last parse_paz succeeded
};

// Why `text` cannot serve as a stored response of its kind (pole-zero when `paz`,
// else frequency-amplitude-phase), or "" when it can: it must parse, and a pole-zero
// response must give a finite value above 0 at 1 Hz. The reason names the format.
std::string response_text_problem(bool paz, std::string_view text);

}  // namespace zelvik::detect

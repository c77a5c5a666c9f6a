// Parsing of the response texts and evaluation of the amplitude response. Numbers are
// read with std::from_chars, so the process locale never changes the decimal point, and
// every count that sizes a list is bounded before anything is allocated.
#include "signal/instrument_response.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "common/text.h"

namespace zelvik::detect {
namespace {

// Splits at any run of '|', newline and ';'; empty tokens are skipped.
std::vector<std::string_view> tokens_of(std::string_view text) {
    std::vector<std::string_view> out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = text.find_first_not_of("|\n;", pos);
        if (start == std::string_view::npos) break;
        size_t stop = text.find_first_of("|\n;", start);
        if (stop == std::string_view::npos) stop = text.size();
        out.push_back(text.substr(start, stop - start));
        pos = stop;
    }
    return out;
}

// Reads one real number at p the way "%lg" does (leading white space and sign allowed)
// and moves p past it. False when no number starts there.
bool read_number(const char*& p, const char* end, double& value) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\v' || *p == '\f')) ++p;
    const char* q = p;
    if (q < end && *q == '+') ++q;
    if (q < end && *q == '+') return false;
    const auto [stop, ec] = std::from_chars(q, end, value, std::chars_format::general);
    if (ec != std::errc() && ec != std::errc::result_out_of_range) return false;
    if (ec == std::errc::result_out_of_range) value = HUGE_VAL;  // refused as not finite
    p = stop;
    return true;
}

// Reads up to `wanted` numbers separated by exactly one character each ("%lg%*c%lg...");
// those not present stay 0. Returns how many were read.
int read_numbers(std::string_view token, double* values, int wanted) {
    const char* p = token.data();
    const char* end = p + token.size();
    for (int i = 0; i < wanted; ++i) values[i] = 0.0;
    for (int i = 0; i < wanted; ++i) {
        if (i > 0) {
            if (p == end) return i;
            ++p;  // the one separator character
        }
        if (!read_number(p, end, values[i])) return i;
    }
    return wanted;
}

// The integer starting `offset` characters after the first `keyword` (0 when none
// follows); false when the keyword is absent.
bool announced_count(std::string_view text, std::string_view keyword, size_t offset, int& count) {
    const size_t at = text.find(keyword);
    if (at == std::string_view::npos) return false;
    const size_t from = at + offset;
    count = from < text.size() ? common::leading_int(text.substr(from)) : 0;
    return true;
}

}  // namespace

bool InstrumentResponse::fail_paz() {
    zeros_.clear();
    poles_.clear();
    constant_ = 1.0;
    paz_usable_ = false;
    return false;
}

bool InstrumentResponse::parse_paz(std::string_view text) {
    kind_ = ResponseKind::kPaz;
    fail_paz();
    int zero_count = 0, pole_count = 0;
    if (text.empty() || !announced_count(text, "ZEROS", 6, zero_count) ||
        !announced_count(text, "POLES", 6, pole_count)) {
        return false;
    }
    if (zero_count < 0 || zero_count > kMaxPazCount || pole_count < 0 ||
        pole_count > kMaxPazCount) {
        return false;
    }
    std::vector<std::complex<double>>* list = nullptr;  // the list being filled, if any
    int wanted = 0;
    for (const std::string_view token : tokens_of(text)) {
        if (token.find("ZEROS") != std::string_view::npos) {
            list = &zeros_, wanted = zero_count;
        } else if (token.find("POLES") != std::string_view::npos) {
            list = &poles_, wanted = pole_count;
        } else if (token.find("CONSTANT") != std::string_view::npos) {
            double c = 0.0;
            if (token.size() > 9) (void)read_numbers(token.substr(9), &c, 1);
            if (!std::isfinite(c)) return fail_paz();
            constant_ = c;
        } else if (list != nullptr && static_cast<int>(list->size()) < wanted) {
            double v[2];
            if (read_numbers(token, v, 2) == 0) continue;  // not a number: skipped
            if (!std::isfinite(v[0]) || !std::isfinite(v[1])) return fail_paz();
            list->emplace_back(v[0], v[1]);
        }
    }
    // Zeros announced but not listed lie at the origin.
    zeros_.resize(static_cast<size_t>(zero_count), {0.0, 0.0});
    paz_usable_ = true;
    return true;
}

bool InstrumentResponse::parse_fap(std::string_view text) {
    kind_ = ResponseKind::kFap;
    table_.clear();
    for (const std::string_view token : tokens_of(text)) {
        double v[3];
        (void)read_numbers(token, v, 3);
        const bool usable = v[0] != 0.0 && v[1] != 0.0 && std::isfinite(v[2]) &&
                            std::isfinite(static_cast<float>(v[0])) &&
                            std::isfinite(static_cast<float>(v[1]));
        if (!usable) continue;
        if (static_cast<int>(table_.size()) == kMaxFapEntries) {
            table_.clear();
            return false;
        }
        table_.push_back({v[0], v[1], v[2]});
    }
    // Evaluation walks neighbouring entries and expects ascending frequencies.
    std::stable_sort(table_.begin(), table_.end(), [](const FapEntry& a, const FapEntry& b) {
        return a.frequency < b.frequency;
    });
    return !table_.empty();
}

double InstrumentResponse::evaluate(float f) const {
    switch (kind_) {
        case ResponseKind::kPaz:
            return evaluate_paz(f);
        case ResponseKind::kFap:
            return evaluate_fap(f);
        case ResponseKind::kNone:
            break;
    }
    return 0.0;
}

double InstrumentResponse::evaluate_paz(float f) const {
    if (!paz_usable_) return 0.0;
    const double two_pi = 8.0 * std::atan(1.0);
    const std::complex<double> s(0.0, two_pi * f);
    std::complex<double> n(1.0, 0.0), d(1.0, 0.0);
    for (const auto& z : zeros_) n *= s - z;
    for (const auto& p : poles_) d *= s - p;
    const double value = constant_ * std::abs(n / d);
    return std::isfinite(value) ? value : 0.0;
}

double InstrumentResponse::evaluate_fap(float f) const {
    if (table_.empty()) return -1.0;
    if (!std::isfinite(f)) return 0.0;
    if (f < static_cast<float>(table_.front().frequency) ||
        f > static_cast<float>(table_.back().frequency)) {
        return 0.0;
    }
    for (size_t i = 0; i + 1 < table_.size(); ++i) {
        const float fi = static_cast<float>(table_[i].frequency);
        const float fn = static_cast<float>(table_[i + 1].frequency);
        const float ai = static_cast<float>(table_[i].amplitude);
        const float an = static_cast<float>(table_[i + 1].amplitude);
        if (f == fi) return ai;
        if (fi < f && f < fn) return ai + (an - ai) * (f - fi) / (fn - fi);
    }
    return static_cast<float>(table_.back().amplitude);
}

std::string response_text_problem(bool paz, std::string_view text) {
    InstrumentResponse r;
    if (paz) {
        int zeros = 0, poles = 0;
        if (announced_count(text, "ZEROS", 6, zeros) && announced_count(text, "POLES", 6, poles) &&
            (zeros > InstrumentResponse::kMaxPazCount ||
             poles > InstrumentResponse::kMaxPazCount)) {
            char counts[128];
            std::snprintf(counts, sizeof counts,
                          "the pole-zero text announces %d zeros and %d poles, more than %d", zeros,
                          poles, InstrumentResponse::kMaxPazCount);
            return counts;
        }
        if (!r.parse_paz(text)) {
            return "not a pole-zero text: it needs \"ZEROS n\" and \"POLES m\" lines, each "
                   "followed by up to n (m) \"real imaginary\" pairs, and \"CONSTANT c\"";
        }
        const double at_1hz = r.evaluate(1.0f);
        if (!(at_1hz > 0.0) || !std::isfinite(at_1hz)) {
            char text_1hz[96];
            std::snprintf(text_1hz, sizeof text_1hz,
                          "the pole-zero response gives %g at 1 Hz; it must be above 0", at_1hz);
            return text_1hz;
        }
        return {};
    }
    if (!r.parse_fap(text)) {
        size_t entries = 0;
        for (const std::string_view token : tokens_of(text)) entries += token.empty() ? 0 : 1;
        if (entries > static_cast<size_t>(InstrumentResponse::kMaxFapEntries)) {
            return "the frequency-amplitude-phase table has " + std::to_string(entries) +
                   " lines, more than " + std::to_string(InstrumentResponse::kMaxFapEntries);
        }
        return "not a frequency-amplitude-phase text: it needs lines \"frequency amplitude "
               "phase\" with frequency (Hz) and amplitude (counts per metre) not 0";
    }
    return {};
}

}  // namespace zelvik::detect

// Stages in Hz are moved to rad/s: with s = j2pi f, each (jf - r) becomes
// (s - 2pi r) / 2pi, so A0 gains (2pi)^(poles - zeros). Velocity and acceleration
// become displacement by one or two zeros at the origin (d/dt is a factor s).
#include "tools/displacement_paz.h"

#include <charconv>
#include <cmath>
#include <complex>
#include <vector>

#include "common/text.h"
#include "signal/instrument_response.h"
#include "tools/stationxml_reader.h"

namespace zelvik::tools {
namespace {

const double kTwoPi = 8.0 * std::atan(1.0);

// 1 % between A0 and the sensitivity is what rounding in inventories leaves; beyond it
// the file's A0 belongs to another frequency than its sensitivity.
constexpr double kTolerance = 0.01;

// Zeros at the origin that turn `units` into displacement, or -1 for other units.
int zeros_for_units(const std::string& units) {
    const std::string u = common::to_upper(units);
    if (u == "M") return 0;
    if (u == "M/S") return 1;
    if (u == "M/S**2" || u == "M/S^2" || u == "M/S/S") return 2;
    return -1;
}

std::string number_text(double v) {
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 12);
    return std::string(buf, res.ptr);
}

std::string paz_text(const std::vector<std::complex<double>>& zeros,
                     const std::vector<std::complex<double>>& poles, double constant) {
    std::string t = "ZEROS " + std::to_string(zeros.size()) + "\n";
    for (const auto& z : zeros) t += number_text(z.real()) + " " + number_text(z.imag()) + "\n";
    t += "POLES " + std::to_string(poles.size()) + "\n";
    for (const auto& p : poles) t += number_text(p.real()) + " " + number_text(p.imag()) + "\n";
    return t + "CONSTANT " + number_text(constant) + "\n";
}

double evaluate_text(const std::string& text, double frequency) {
    detect::InstrumentResponse r;
    return r.parse_paz(text) ? r.evaluate(static_cast<float>(frequency)) : 0.0;
}

}  // namespace

std::string displacement_paz(const StationXmlChannel& ch, DisplacementPaz& out) {
    out = DisplacementPaz{};
    if (!ch.problem.empty()) return ch.problem;
    if (!ch.has_sensitivity || !(ch.sensitivity > 0)) return "no instrument sensitivity";
    if (!(ch.sensitivity_frequency > 0)) return "the instrument sensitivity has no frequency";
    if (ch.paz_stages.empty())
        return ch.digital_stages > 0 ? "no analog pole-zero stage (only digital stages)"
                                     : "no analog pole-zero stage";
    out.added_zeros = zeros_for_units(ch.input_units);
    if (out.added_zeros < 0)
        return "input units \"" + ch.input_units + "\" are none of M, M/S, M/S**2";
    std::vector<std::complex<double>> zeros(static_cast<size_t>(out.added_zeros)), poles;
    out.a0_stated = 1.0;
    for (const PazStage& s : ch.paz_stages) {
        const double scale = s.hertz ? kTwoPi : 1.0;
        for (const auto& z : s.zeros) zeros.push_back(z * scale);
        for (const auto& p : s.poles) poles.push_back(p * scale);
        const int excess = static_cast<int>(s.poles.size()) - static_cast<int>(s.zeros.size());
        out.a0_stated *= s.normalization_factor * std::pow(scale, excess);
    }
    if (zeros.size() > detect::InstrumentResponse::kMaxPazCount ||
        poles.size() > detect::InstrumentResponse::kMaxPazCount)
        return "more than " + std::to_string(detect::InstrumentResponse::kMaxPazCount) +
               " poles or zeros";
    out.frequency = ch.sensitivity_frequency;
    const double wanted = ch.sensitivity * std::pow(kTwoPi * out.frequency, out.added_zeros);
    out.a0_used = out.a0_stated;
    out.text = paz_text(zeros, poles, out.a0_used * ch.sensitivity);
    out.value = evaluate_text(out.text, out.frequency);
    if (!(out.value > 0) || !std::isfinite(out.value))
        return "the poles and zeros give no response at " + number_text(out.frequency) + " Hz";
    if (std::abs(out.value / wanted - 1.0) > kTolerance) {
        out.a0_used *= wanted / out.value;
        out.a0_recomputed = true;
        out.text = paz_text(zeros, poles, out.a0_used * ch.sensitivity);
        out.value = evaluate_text(out.text, out.frequency);
        if (!(std::abs(out.value / wanted - 1.0) <= kTolerance))
            return "no A0 gives the sensitivity at " + number_text(out.frequency) + " Hz";
    }
    return {};
}

}  // namespace zelvik::tools

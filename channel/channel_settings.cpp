// Channel section reading by the names, defaults and rules of the settings schema. The
// range test is separate so that a refused channel can be named with its reason.
#include "channel/channel_settings.h"

#include <cmath>
#include <cstdio>

#include "config/program_settings.h"
#include "config/settings_schema.h"
#include "signal/sta_lta_trigger.h"

namespace zelvik::detect {

ChannelSettings read_channel_settings(const std::string& settings_path, int n) {
    using config::Setting;
    const std::string section = config::channel_section(n);
    const auto real = [&](Setting id) {
        return config::zelvik_real(settings_path, section, config::spec_of(id));
    };
    const auto number = [&](Setting id) {
        return config::zelvik_int(settings_path, section, config::spec_of(id));
    };
    const auto text = [&](Setting id) {
        return config::zelvik_text(settings_path, section, config::spec_of(id));
    };
    ChannelSettings s;
    s.index = n;
    s.lta_seconds = real(Setting::kLta);
    s.sta_seconds = real(Setting::kSta);
    s.threshold = real(Setting::kThreshold);
    s.fr1 = static_cast<float>(real(Setting::kFr1));
    s.fr2 = static_cast<float>(real(Setting::kFr2));
    s.sound = number(Setting::kSound) != 0;
    s.order = number(Setting::kOrder);
    s.station = text(Setting::kStation);
    s.channel = text(Setting::kChannel);
    s.location = text(Setting::kLocation);
    return s;
}

std::string channel_settings_problem(const ChannelSettings& s, double sample_rate) {
    const config::IntRange order = config::spec_of(config::Setting::kOrder).zelvik_range;
    char text[200];
    if (!(sample_rate > 0.0) || !std::isfinite(sample_rate)) {
        std::snprintf(text, sizeof text, "sample rate %g (%s)", sample_rate,
                      sample_rate == 0.0 ? "no SITECHAN row" : "store error");
    } else if (sample_rate > kMaxSampleRate) {
        std::snprintf(text, sizeof text, "sample rate %g sps above the %g sps a channel may have",
                      sample_rate, kMaxSampleRate);
    } else if (s.order < order.min || s.order > order.max) {
        std::snprintf(text, sizeof text, "ORDER %d outside %d..%d", s.order, order.min, order.max);
    } else if (!(s.sta_seconds > 0.0) || !(s.lta_seconds > 0.0) || !std::isfinite(s.sta_seconds) ||
               !std::isfinite(s.lta_seconds)) {
        std::snprintf(text, sizeof text, "STA %g s / LTA %g s not positive", s.sta_seconds,
                      s.lta_seconds);
    } else if (!(s.sta_seconds < s.lta_seconds)) {
        std::snprintf(text, sizeof text, "STA %g s not shorter than LTA %g s", s.sta_seconds,
                      s.lta_seconds);
    } else if (std::floor(s.sta_seconds * sample_rate) < 1.0) {
        // In doubles: a window of 1e10 samples must not wrap round to a negative int.
        std::snprintf(text, sizeof text, "STA %g s / LTA %g s shorter than one sample at %g sps",
                      s.sta_seconds, s.lta_seconds, sample_rate);
    } else if (std::floor(s.sta_seconds * sample_rate) + std::floor(s.lta_seconds * sample_rate) >
               StaLtaTrigger::kMaxWindowSamples) {
        std::snprintf(
            text, sizeof text,
            "STA %g s + LTA %g s at %g sps are %.0f samples, more than the %d the "
            "trigger holds",
            s.sta_seconds, s.lta_seconds, sample_rate,
            std::floor(s.sta_seconds * sample_rate) + std::floor(s.lta_seconds * sample_rate),
            StaLtaTrigger::kMaxWindowSamples);
    } else if (!(s.fr1 >= 0.0f) || !(s.fr1 < s.fr2)) {
        std::snprintf(text, sizeof text, "FR1 %.3f Hz not in [0, FR2 %.3f Hz)", s.fr1, s.fr2);
    } else if (!(s.fr2 < sample_rate / 2)) {
        std::snprintf(text, sizeof text, "FR2 %.3f Hz not below half the sample rate %g", s.fr2,
                      sample_rate);
    } else if (!std::isfinite(s.threshold)) {
        std::snprintf(text, sizeof text, "Threshold not finite");
    } else {
        return {};
    }
    return text;
}

}  // namespace zelvik::detect

// Selector text is checked where it comes in, so that the session never sends a
// command the server would refuse for its form.
#include "acquire/stream_selector.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace zelvik::acquire {
namespace {

bool valid_code(std::string_view code, size_t max_length, bool may_be_empty) {
    if (code.empty()) return may_be_empty;
    if (code.size() > max_length) return false;
    for (char c : code)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '?' && c != '*') return false;
    return true;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// A pattern of `width` characters with ? only: each * stands for as many ? as needed.
std::string fixed_width(std::string_view pattern, size_t width) {
    std::string out;
    const size_t stars = static_cast<size_t>(std::count(pattern.begin(), pattern.end(), '*'));
    const size_t plain = pattern.size() - stars;
    size_t spare = width > plain ? width - plain : 0;
    for (char c : pattern) {
        if (c != '*') {
            out += c;
        } else {
            out.append(spare, '?');
            spare = 0;
        }
    }
    out.resize(width, '?');
    return out;
}

}  // namespace

bool parse_server_address(std::string_view text, ServerAddress& out, std::string& error) {
    std::string_view host = text, port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) {
            error = "unclosed [ in server address '" + std::string(text) + "'";
            return false;
        }
        host = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            error = "unexpected text after ] in server address '" + std::string(text) + "'";
            return false;
        }
        if (!rest.empty()) port = rest.substr(1);
    } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        if (text.find(':') != colon) {
            error = "an IPv6 address needs brackets: [" + std::string(text) + "]:port";
            return false;
        }
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty()) {
        error = "no host in server address '" + std::string(text) + "'";
        return false;
    }
    out.host = std::string(host);
    out.port = kDefaultSeedLinkPort;
    if (!port.empty() || (text.size() > 0 && text.back() == ':')) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535) {
            error = "port '" + std::string(port) + "' is not a number from 1 to 65535";
            return false;
        }
        out.port = static_cast<uint16_t>(value);
    }
    return true;
}

bool parse_stream_selector(std::string_view text, StreamSelector& out, std::string& error) {
    const std::string given(text);
    const size_t colon = text.find(':');
    const std::string_view station_id = text.substr(0, colon);
    const size_t underscore = station_id.find('_');
    if (underscore == std::string_view::npos) {
        error = "stream '" + given + "' is not NET_STA or NET_STA:LOC.CHA";
        return false;
    }
    out = StreamSelector{};
    out.network = upper(station_id.substr(0, underscore));
    out.station = upper(station_id.substr(underscore + 1));
    if (!valid_code(out.network, 8, false) || !valid_code(out.station, 8, false)) {
        error = "network or station code in '" + given +
                "' is empty, too long or not letters and digits";
        return false;
    }
    if (colon == std::string_view::npos) return true;
    const std::string_view stream = text.substr(colon + 1);
    const size_t dot = stream.find('.');
    if (dot == std::string_view::npos) {
        out.location = "*";
        out.channel = upper(stream);
    } else {
        out.location = upper(stream.substr(0, dot));
        out.channel = upper(stream.substr(dot + 1));
    }
    if (!valid_code(out.location, 2, true) || !valid_code(out.channel, 3, false)) {
        error = "location or channel code in '" + given +
                "' is too long, empty or not letters and digits";
        return false;
    }
    return true;
}

std::string v3_select_pattern(const StreamSelector& s) {
    if (s.channel.empty()) return {};
    // Three characters alone select the channel at any location.
    if (s.location == "*") return fixed_width(s.channel, 3);
    const std::string location = s.location.empty() ? "--" : fixed_width(s.location, 2);
    return location + fixed_width(s.channel, 3);
}

std::string v4_select_pattern(const StreamSelector& s) {
    if (s.channel.empty()) return {};
    std::string channel;
    for (char c : s.channel) {
        if (!channel.empty()) channel += '_';
        channel += c;
    }
    return s.location + "_" + channel;
}

}  // namespace zelvik::acquire

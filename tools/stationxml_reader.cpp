// StationXML through pugixml's DOM. pugixml knows no namespaces, so names are compared
// after the last ':'; numbers are read with std::from_chars, so the process locale
// never changes the decimal point.
#include "tools/stationxml_reader.h"

#include <pugixml.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/civil_time.h"

namespace zelvik::tools {
namespace {

std::string_view local_name(const pugi::xml_node& node) {
    const std::string_view name = node.name();
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node& parent, std::string_view name) {
    for (const pugi::xml_node& c : parent.children())
        if (c.type() == pugi::node_element && local_name(c) == name) return c;
    return {};
}

std::vector<pugi::xml_node> children(const pugi::xml_node& parent, std::string_view name) {
    std::vector<pugi::xml_node> out;
    for (const pugi::xml_node& c : parent.children())
        if (c.type() == pugi::node_element && local_name(c) == name) out.push_back(c);
    return out;
}

std::string_view trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::string text_of(const pugi::xml_node& node) {
    return std::string(trimmed(node.child_value()));
}

// The whole text of `node` as one finite number; false when absent or not a number.
bool number_of(const pugi::xml_node& node, double& value) {
    std::string_view s = trimmed(node.child_value());
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return !s.empty() && ec == std::errc() && end == s.data() + s.size() && std::isfinite(value);
}

// Zero or Pole elements as complex numbers; "" or what is wrong with them.
std::string read_roots(const pugi::xml_node& paz, const char* name,
                       std::vector<std::complex<double>>& out) {
    for (const pugi::xml_node& root : children(paz, name)) {
        double re = 0, im = 0;
        if (!number_of(child(root, "Real"), re) || !number_of(child(root, "Imaginary"), im))
            return std::string(name) + " " + std::to_string(out.size() + 1) +
                   " lacks a numeric Real or Imaginary";
        out.emplace_back(re, im);
    }
    return {};
}

// One Stage: an analog pole-zero stage goes to `ch.paz_stages`, anything else counts
// as digital. "" or the problem.
std::string read_stage(const pugi::xml_node& stage, StationXmlChannel& ch) {
    const pugi::xml_node paz = child(stage, "PolesZeros");
    const int number = stage.attribute("number").as_int(0);
    const std::string type = paz ? text_of(child(paz, "PzTransferFunctionType")) : "";
    if (!paz || type == "DIGITAL (Z-TRANSFORM)") {
        ++ch.digital_stages;
        return {};
    }
    if (type != "LAPLACE (RADIANS/SECOND)" && type != "LAPLACE (HERTZ)")
        return "stage " + std::to_string(number) + " has the unknown transfer function type \"" +
               type + "\"";
    PazStage s;
    s.number = number;
    s.hertz = type == "LAPLACE (HERTZ)";
    if (const pugi::xml_node a0 = child(paz, "NormalizationFactor");
        a0 && !number_of(a0, s.normalization_factor))
        return "stage " + std::to_string(number) + " has a NormalizationFactor that is no number";
    (void)number_of(child(paz, "NormalizationFrequency"), s.normalization_frequency);
    if (std::string p = read_roots(paz, "Zero", s.zeros); !p.empty()) return p;
    if (std::string p = read_roots(paz, "Pole", s.poles); !p.empty()) return p;
    ch.paz_stages.push_back(std::move(s));
    return {};
}

void read_response(const pugi::xml_node& response, StationXmlChannel& ch) {
    if (const pugi::xml_node sens = child(response, "InstrumentSensitivity")) {
        ch.has_sensitivity = number_of(child(sens, "Value"), ch.sensitivity);
        (void)number_of(child(sens, "Frequency"), ch.sensitivity_frequency);
        ch.input_units = text_of(child(child(sens, "InputUnits"), "Name"));
    }
    for (const pugi::xml_node& stage : children(response, "Stage")) {
        ch.problem = read_stage(stage, ch);
        if (!ch.problem.empty()) return;
    }
}

}  // namespace

bool read_stationxml(const std::string& path, std::vector<StationXmlChannel>& channels,
                     std::string& error) {
    channels.clear();
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(path.c_str());
    if (parsed.status == pugi::status_file_not_found || parsed.status == pugi::status_io_error) {
        error = "cannot read " + path;
        return false;
    }
    if (!parsed) {
        error = path + " is not XML: " + parsed.description() + " at byte " +
                std::to_string(parsed.offset);
        return false;
    }
    const pugi::xml_node root = doc.document_element();
    if (local_name(root) != "FDSNStationXML") {
        error = path + " is XML but not StationXML: its root element is <" +
                std::string(root.name()) + ">, not <FDSNStationXML>";
        return false;
    }
    for (const pugi::xml_node& net : children(root, "Network")) {
        for (const pugi::xml_node& sta : children(net, "Station")) {
            for (const pugi::xml_node& cha : children(sta, "Channel")) {
                StationXmlChannel ch;
                ch.network = net.attribute("code").value();
                ch.station = sta.attribute("code").value();
                ch.channel = cha.attribute("code").value();
                ch.location = cha.attribute("locationCode").value();
                ch.start_date = cha.attribute("startDate").value();
                if (ch.start_date.empty()) ch.start_date = sta.attribute("startDate").value();
                ch.end_date = cha.attribute("endDate").value();
                if (const pugi::xml_node response = child(cha, "Response"))
                    read_response(response, ch);
                channels.push_back(std::move(ch));
            }
        }
    }
    return true;
}

bool utc_date_fields(std::string_view text, DateFields& out) {
    const std::string s(trimmed(text));
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, used = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &sec, &used) !=
        6) {
        used = 0;
        if (std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3) return false;
    }
    std::string_view rest = std::string_view(s).substr(static_cast<size_t>(used));
    if (!rest.empty() && rest.front() == '.' && s.size() > 10 && s[10] == 'T') {
        rest.remove_prefix(1);
        while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') rest.remove_prefix(1);
    }
    int offset_minutes = 0;  // east of UTC
    if (rest == "Z") {
        rest = {};
    } else if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        int oh = 0, om = 0, n = 0;
        const std::string zone(rest);
        if (std::sscanf(zone.c_str() + 1, "%2d:%2d%n", &oh, &om, &n) != 2 ||
            static_cast<size_t>(n) + 1 != zone.size() || oh > 23 || om > 59)
            return false;
        offset_minutes = (rest.front() == '-' ? -1 : 1) * (oh * 60 + om);
        rest = {};
    }
    char plain[40];
    std::snprintf(plain, sizeof plain, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, sec);
    if (!rest.empty() || !parse_date(plain, out)) return false;
    if (offset_minutes == 0) return true;
    const common::Civil utc = common::civil_from_epoch(
        common::epoch_from_civil(
            {out.year, out.month, out.day, out.hour, out.minute, static_cast<double>(out.second)}) -
        60.0 * offset_minutes);
    out = {utc.year, utc.month, utc.day, utc.hour, utc.minute, static_cast<int>(utc.second)};
    return true;
}

}  // namespace zelvik::tools

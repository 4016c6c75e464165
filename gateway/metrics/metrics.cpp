#include "gateway/metrics/metrics.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

#include "clients/level_names.h"

namespace vantrel::gateway {
namespace {

// A series' line: name{unit="...",extra} value. Unit names are addresses or device names, so
// no label value needs escaping beyond what Label does.
class Lines {
  public:
    void Family(const char* name, const char* type, const char* help) {
        m_text +=
            std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void Series(const char* name, const std::string& unit, const std::string& labels,
                double value) {
        m_text += std::string(name) + "{unit=\"" + Label(unit) + "\"" + labels + "} " +
                  Number(value) + "\n";
    }
    // A series of the gateway itself, which has no labels.
    void Single(const char* name, double value) {
        m_text += std::string(name) + " " + Number(value) + "\n";
    }
    // A series of the gateway itself with `labels`, given as name="value".
    void Labelled(const char* name, const std::string& labels, double value) {
        m_text += std::string(name) + "{" + labels + "} " + Number(value) + "\n";
    }
    static std::string Number(double value) {
        char number[32];
        std::snprintf(number, sizeof number, "%.15g", value);
        return number;
    }
    static std::string Label(const std::string& value) {
        std::string out;
        for (char c : value) {
            if (c == '\\' || c == '"') out += '\\';
            if (c == '\n') {
                out += "\\n";
                continue;
            }
            out += c;
        }
        return out;
    }
    std::string Text() && { return std::move(m_text); }

  private:
    std::string m_text;
};

// Label values are spelled as the metric names are, with underscores: lcd_brightness.
std::string Underscored(std::string name) {
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// A unit label's key as a Prometheus label name: label_ and the key, anything but a letter, a
// digit or '_' made '_' (site-a -> label_site_a).
std::string LabelName(const std::string& key) {
    std::string name = "label_" + key;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

// name="...",label_site="...": a key that maps to a name given already is left out, as a series
// may not hold a label twice.
std::string NamingLabels(const UnitNaming& naming) {
    std::string labels = ",name=\"" + Lines::Label(naming.name) + "\"";
    std::set<std::string> given;
    for (const auto& [key, value] : naming.labels) {
        const std::string name = LabelName(key);
        if (!given.insert(name).second) continue;
        labels += "," + name + "=\"" + Lines::Label(value) + "\"";
    }
    return labels;
}

std::string VersionText(const FirmwareVersion& version) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", version.major, version.minor);
    return text;
}

}  // namespace

std::string MetricsText(const std::vector<UnitSnapshot>& units, Steady::time_point now) {
    namespace b = status_byte;
    Lines lines;
    lines.Family("vantrel_up", "gauge", "1 while the unit's link is up and its polls answered.");
    for (const UnitSnapshot& u : units) {
        lines.Series("vantrel_up", u.unit, "", u.link == LinkState::Up ? 1 : 0);
    }
    // The name and labels once, for a join: every other series keeps only `unit`.
    lines.Family("vantrel_unit_info", "gauge", "1, with the unit's name and labels.");
    for (const UnitSnapshot& u : units) {
        lines.Series("vantrel_unit_info", u.unit, NamingLabels(u.naming), 1);
    }
    // Planned work: an alert on vantrel_up leaves out a unit that shows 1 here.
    lines.Family("vantrel_unit_maintenance", "gauge",
                 "1 while the unit waits for its power cycle in a net controller update.");
    for (const UnitSnapshot& u : units) {
        lines.Series("vantrel_unit_maintenance", u.unit, "",
                     u.link == LinkState::Maintenance ? 1 : 0);
    }
    lines.Family("vantrel_reconnects_total", "counter", "Times the unit's link was made again.");
    for (const UnitSnapshot& u : units) {
        lines.Series("vantrel_reconnects_total", u.unit, "", static_cast<double>(u.reconnects));
    }
    std::vector<const UnitSnapshot*> up;
    for (const UnitSnapshot& u : units) {
        if (u.link == LinkState::Up && u.reading) up.push_back(&u);
    }
    lines.Family("vantrel_level", "gauge", "A level as last polled.");
    for (const UnitSnapshot* u : up) {
        for (const Level level : clients::kAllLevels) {
            lines.Series("vantrel_level", u->unit,
                         ",level=\"" + Underscored(clients::NameOf(level)) + "\"",
                         u->reading->status[StatusByteOf(level)]);
        }
    }
    lines.Family("vantrel_input", "gauge", "The input: 0 HDMI, 1 SDI, 2 Balanced, 3 Unbalanced.");
    for (const UnitSnapshot* u : up) {
        lines.Series("vantrel_input", u->unit, "", u->reading->status[b::kInput]);
    }
    lines.Family("vantrel_meter_mode", "gauge", "The meter mode: 0 VU, 1 DPPM.");
    for (const UnitSnapshot* u : up) {
        lines.Series("vantrel_meter_mode", u->unit, "", u->reading->status[b::kMeterMode]);
    }
    const char* lamps[] = {"solo_left", "solo_right", "mix_down"};
    const std::size_t lampBytes[] = {b::kSoloLeft, b::kSoloRight, b::kMixDown};
    lines.Family("vantrel_lamp", "gauge", "1 while the lamp is lit.");
    for (const UnitSnapshot* u : up) {
        for (int i = 0; i < 3; ++i) {
            lines.Series("vantrel_lamp", u->unit, std::string(",lamp=\"") + lamps[i] + "\"",
                         u->reading->status[lampBytes[i]] ? 1 : 0);
        }
    }
    lines.Family("vantrel_firmware_info", "gauge", "The controllers' firmware versions.");
    for (const UnitSnapshot* u : up) {
        const std::optional<FirmwareVersions>& v = u->reading->versions;
        if (v && v->main) {
            lines.Series("vantrel_firmware_info", u->unit,
                         ",controller=\"main\",version=\"" + VersionText(*v->main) + "\"", 1);
        }
        if (v && v->net) {
            lines.Series("vantrel_firmware_info", u->unit,
                         ",controller=\"net\",version=\"" + VersionText(*v->net) + "\"", 1);
        }
    }
    // Beside the poll age, so that an alert can tell a late poll whatever --poll says.
    lines.Family("vantrel_poll_period_seconds", "gauge", "Seconds between the unit's polls.");
    for (const UnitSnapshot& u : units) {
        lines.Series("vantrel_poll_period_seconds", u.unit, "",
                     std::chrono::duration<double>(u.poll).count());
    }
    lines.Family("vantrel_poll_age_seconds", "gauge", "Seconds since the unit last answered.");
    for (const UnitSnapshot* u : up) {
        lines.Series("vantrel_poll_age_seconds", u->unit, "",
                     std::chrono::duration<double>(now - u->lastAnswer).count());
    }
    return std::move(lines).Text();
}

std::string CommandMetricsText(const std::vector<UnitSnapshot>& units,
                               const std::map<CommandCounts::Key, std::int64_t>& counts) {
    Lines lines;
    lines.Family("vantrel_commands_total", "counter", "Commands asked of the unit, by outcome.");
    for (const UnitSnapshot& u : units) {
        for (const char* outcome : kCommandOutcomes) {
            const auto counted = counts.find({u.unit, outcome});
            lines.Series("vantrel_commands_total", u.unit,
                         std::string(",outcome=\"") + outcome + "\"",
                         counted == counts.end() ? 0 : static_cast<double>(counted->second));
        }
    }
    return std::move(lines).Text();
}

std::string FirmwareJobMetricsText(const std::map<UpdateState, std::int64_t>& ended) {
    Lines lines;
    lines.Family("vantrel_firmware_jobs_total", "counter",
                 "Units whose firmware update ended, by outcome.");
    const std::pair<UpdateState, const char*> outcomes[] = {
        {UpdateState::kDone, "done"},
        {UpdateState::kFailed, "failed"},
        {UpdateState::kNotStarted, "not_started"}};
    for (const auto& [state, label] : outcomes) {
        const auto counted = ended.find(state);
        lines.Labelled("vantrel_firmware_jobs_total", std::string("outcome=\"") + label + "\"",
                       counted == ended.end() ? 0 : static_cast<double>(counted->second));
    }
    return std::move(lines).Text();
}

std::string DriftMetricsText(const std::vector<UnitSnapshot>& units, const SnapshotBook& book) {
    Lines lines;
    lines.Family("vantrel_unit_drift", "gauge",
                 "Settings of a unit held to a snapshot that differ from it, as last polled.");
    for (const UnitSnapshot& u : units) {
        const std::optional<UnitDrift> drift = DriftOf(u, book);
        if (drift && !drift->down && drift->wanted) {
            lines.Series("vantrel_unit_drift", u.unit, "",
                         static_cast<double>(drift->differing.size()));
        }
    }
    return std::move(lines).Text();
}

std::string GatewayInfoText(const std::string& version,
                            std::chrono::system_clock::time_point start) {
    Lines lines;
    lines.Family("vantrel_build_info", "gauge", "1, with the gateway's version.");
    lines.Labelled("vantrel_build_info", "version=\"" + Lines::Label(version) + "\"", 1);
    lines.Family("vantrel_gateway_start_time_seconds", "gauge",
                 "When the gateway started, in seconds since 1970.");
    lines.Single("vantrel_gateway_start_time_seconds",
                 std::chrono::duration<double>(start.time_since_epoch()).count());
    return std::move(lines).Text();
}

std::string ClusterMetricsText(const ClusterFigures& figures) {
    Lines lines;
    lines.Family("vantrel_gateway_lease_held", "gauge",
                 "1 while the gateway's lease is surely held, so that it may drive its units.");
    lines.Single("vantrel_gateway_lease_held", figures.leaseHeld ? 1 : 0);
    lines.Family("vantrel_gateway_members", "gauge", "The live gateways this one sees.");
    lines.Single("vantrel_gateway_members", static_cast<double>(figures.members));
    lines.Family("vantrel_gateway_units_owned", "gauge", "The units this gateway drives.");
    lines.Single("vantrel_gateway_units_owned", static_cast<double>(figures.unitsOwned));
    lines.Family("vantrel_gateway_units_unowned", "gauge",
                 "The units this gateway sees driven by no gateway.");
    lines.Single("vantrel_gateway_units_unowned", static_cast<double>(figures.unitsUnowned));
    return std::move(lines).Text();
}

std::string CertificateMetricsText(std::chrono::system_clock::time_point notAfter,
                                   std::chrono::system_clock::time_point now) {
    Lines lines;
    lines.Family("vantrel_tls_certificate_expiry_seconds", "gauge",
                 "Seconds until the served certificate expires; negative once it has.");
    lines.Single("vantrel_tls_certificate_expiry_seconds",
                 static_cast<double>(
                     std::chrono::duration_cast<std::chrono::seconds>(notAfter - now).count()));
    return std::move(lines).Text();
}

}  // namespace vantrel::gateway

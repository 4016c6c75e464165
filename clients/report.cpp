#include "clients/report.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "clients/dotted_address.h"
#include "unit/buttons.h"
#include "unit/console_reply.h"

namespace vantrel::clients {
namespace {

const char* OnOff(std::uint8_t lamp) { return lamp ? "on" : "off"; }
const char* Mode(const std::optional<AddressMode>& mode) {
    if (mode == AddressMode::Static) return "static";
    if (mode == AddressMode::Dhcp) return "DHCP";
    return "unknown";
}
std::string Address(const std::optional<std::uint32_t>& address) {
    return address ? Dotted(*address) : "unknown";
}
std::string Mac(const std::optional<MacAddress>& mac) {
    if (!mac) return "unknown";
    char text[13];
    FormatMac(*mac, text);
    return text;
}

std::string VersionText(const std::optional<FirmwareVersion>& version) {
    if (!version) return "unread";
    char text[16];
    std::snprintf(text, sizeof text, "V%d.%02d", version->major, version->minor);
    return text;
}

}  // namespace

const char* LampField(std::uint8_t lamp) {
    constexpr const char* kFields[] = {"soloLeft", "soloRight", "mixDown"};
    return lamp < 3 ? kFields[lamp] : "lamp";
}

const char* InputLabel(std::uint8_t input) {
    const Button* button = ButtonFor(ButtonEffect::Input, input);
    return button ? button->label : "none";
}

const char* MeterModeLabel(std::uint8_t mode) {
    return ButtonFor(ButtonEffect::MeterMode, mode ? 1 : 0)->label;
}

std::string TimeText(WallTime time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    // Floor division, so that a time before 1970 still gets milliseconds 0..999.
    std::int64_t seconds = ms / 1000;
    std::int64_t millis = ms % 1000;
    if (millis < 0) {
        millis += 1000;
        seconds -= 1;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(millis));
    return text;
}

std::string StatusText(const std::string& unit, const UnitReading& r, WallTime readAt) {
    namespace b = status_byte;
    const StatusBlock& s = r.status;
    const NetworkSettings& n = r.network;
    char text[1024];
    std::snprintf(text, sizeof text,
                  "%s\n  solo left    %s\n  solo right   %s\n  mix-down     %s\n"
                  "  meter mode   %s\n  input        %s\n  volume       %d\n"
                  "  brightness   %d\n  contrast     %d\n  saturation   %d\n"
                  "  ip           %s\n  mask         %s\n  gateway      %s\n"
                  "  address mode %s\n  mac          %s\n",
                  unit.c_str(), OnOff(s[b::kSoloLeft]), OnOff(s[b::kSoloRight]),
                  OnOff(s[b::kMixDown]), MeterModeLabel(s[b::kMeterMode]), InputLabel(s[b::kInput]),
                  s[b::kVolume], s[b::kBrightness], s[b::kContrast], s[b::kSaturation],
                  Address(n.ip).c_str(), Address(n.mask).c_str(), Address(n.gateway).c_str(),
                  Mode(n.mode), Mac(n.mac).c_str());
    std::string out = text;
    if (r.versions && r.versions->main && r.versions->net) {
        out += "  main fw      " + VersionText(r.versions->main) + "\n  net fw       " +
               VersionText(r.versions->net) + "\n";
    }
    return out + "  read at      " + TimeText(readAt) + "\n";
}

std::string VersionsNote(const FirmwareVersions& before, const FirmwareVersions& after) {
    return "versions main " + VersionText(before.main) + " -> " + VersionText(after.main) +
           ", net " + VersionText(before.net) + " -> " + VersionText(after.net);
}

std::string StatusLine(const std::string& unit, const UnitReading& r, WallTime readAt) {
    namespace b = status_byte;
    const StatusBlock& s = r.status;
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s %s  solo-left %s  solo-right %s  mix-down %s  meter %s  input %s  "
                  "volume %d  brightness %d  contrast %d  saturation %d  ",
                  TimeText(readAt).c_str(), unit.c_str(), OnOff(s[b::kSoloLeft]),
                  OnOff(s[b::kSoloRight]), OnOff(s[b::kMixDown]), MeterModeLabel(s[b::kMeterMode]),
                  InputLabel(s[b::kInput]), s[b::kVolume], s[b::kBrightness], s[b::kContrast],
                  s[b::kSaturation]);
    return text + NetworkLine("", r.network).substr(2);
}

nlohmann::json StatusJson(const std::string& unit, const UnitReading& r, WallTime readAt) {
    namespace b = status_byte;
    const StatusBlock& s = r.status;
    nlohmann::json json{
        {"unit", unit},
        {"time", TimeText(readAt)},
        {LampField(0), s[b::kSoloLeft]},
        {LampField(1), s[b::kSoloRight]},
        {LampField(2), s[b::kMixDown]},
        {"meterMode", s[b::kMeterMode]},
        {"input", s[b::kInput]},
        {"levels", {s[b::kVolume], s[b::kBrightness], s[b::kContrast], s[b::kSaturation]}},
        {"ip", Address(r.network.ip)},
        {"mask", Address(r.network.mask)},
        {"gateway", Address(r.network.gateway)},
        {"dhcp", r.network.mode == AddressMode::Dhcp ? 1 : 0},
        {"mac", Mac(r.network.mac)}};
    if (r.versions && r.versions->main) {
        json["mainVersion"] = {r.versions->main->major, r.versions->main->minor};
    }
    if (r.versions && r.versions->net) {
        json["netVersion"] = {r.versions->net->major, r.versions->net->minor};
    }
    return json;
}

std::string NetworkLine(const std::string& unit, const NetworkSettings& n) {
    return unit + "  ip " + Address(n.ip) + "  mask " + Address(n.mask) + "  gateway " +
           Address(n.gateway) + "  " + Mode(n.mode) + "  mac " + Mac(n.mac);
}

std::string FaultNote(const Failure& failure) {
    std::string note = FaultName(failure.fault);
    if (failure.text[0] != '\0') note += std::string(" (") + failure.text + ")";
    return note;
}

std::string FailureNote(const Failure& failure, Shortfall shortfall) {
    return std::string(ShortfallText(shortfall)) + ": " + FaultNote(failure);
}

std::string DoneNote(const Check& check, const char* levelName) {
    if (check.level) {
        std::string note = std::string(levelName) + " at " + std::to_string(*check.level);
        if (check.confirmation != Confirmation::Confirmed) {
            note += std::string(", ") + ConfirmationText(check.confirmation);
        }
        return note;
    }
    if (check.address) return "the unit answers with address " + Dotted(*check.address);
    if (check.network) return "read back: " + NetworkLine("", *check.network).substr(2);
    if (check.confirmation == Confirmation::SentUnreported) {
        return ConfirmationText(check.confirmation);
    }
    return "";
}

}  // namespace vantrel::clients

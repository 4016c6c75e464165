#include "gateway/api.h"

#include "cli/dotted_address.h"
#include "cli/level_names.h"
#include "gateway/access.h"
#include "gateway/metrics.h"
#include "gateway/unit_json.h"
#include "gateway/web_assets.h"
#include "unit/address_rules.h"
#include "unit/buttons.h"

namespace vantrel::gateway {
namespace {

using nlohmann::json;
using Parts = std::vector<std::string>;

// A name from the request that is not UTF-8 is echoed with replacement characters, never thrown.
HttpResponse ApiResponse(const Reply& reply) {
    HttpResponse response{reply.status, "application/json",
                          reply.body.dump(-1, ' ', false, json::error_handler_t::replace),
                          reply.headers, nullptr};
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
}

// "/api/units/x" -> {"api", "units", "x"}
Parts Split(const std::string& path) {
    Parts parts;
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool HasType(const HttpRequest& req, const char* type) {
    return req.Header("Content-Type").rfind(type, 0) == 0;
}

// The checks every command's request passes before anything is sent: the unit exists, the
// body is a JSON object. Sets `body` and returns the unit, or replies and returns null.
UnitMonitor* CommandUnit(Units& units, const std::string& name, const HttpRequest& req, json& body,
                         const ReplySink& done) {
    UnitMonitor* unit = units.Find(name);
    if (!unit) {
        done(ErrorReply(404, "no such unit: " + name));
    } else if (!HasType(req, "application/json")) {
        done(ErrorReply(415, "a command's body is JSON (Content-Type: application/json)"));
    } else {
        body = json::parse(req.body, nullptr, false);
        if (body.is_object()) return unit;
        done(ErrorReply(400, "the body is not a JSON object"));
    }
    return nullptr;
}

// Whether the body holds `true` at `key`; anything else, of any type, is not.
bool IsTrue(const json& body, const char* key) { return body.contains(key) && body[key] == true; }

// Buttons that a press takes: Factory Reset has its own route, which asks for a confirmation.
const Button* PressableButton(const std::string& name) {
    const Button* button = FindButton(name.c_str());
    return button && button->effect != ButtonEffect::FactoryReset ? button : nullptr;
}

void Press(UnitMonitor& unit, EventHub& hub, const std::string& name, const ReplySink& done) {
    const Button* button = PressableButton(name);
    if (!button) return done(ErrorReply(404, "no such button: " + name));
    RunCommand(
        unit, hub, [button](UnitLink& link) { return PressButton(link, *button); }, false, "level",
        done);
}

void SetLevel(UnitMonitor& unit, EventHub& hub, const std::string& levelName, const json& body,
              const ReplySink& done) {
    const Level* found = cli::FindLevel(levelName);
    if (!found) return done(ErrorReply(404, "no such level: " + levelName));
    const Level level = *found;
    const char* name = cli::NameOf(level);
    const std::int32_t highest = RangeOf(level).highest;
    if (body.contains("value")) {
        const json& value = body["value"];
        if (!value.is_number_integer() || value.get<std::int64_t>() < 0 ||
            value.get<std::int64_t>() > highest) {
            return done(ErrorReply(400, std::string(name) + " takes a whole number from 0 to " +
                                            std::to_string(highest)));
        }
        const auto target = value.get<std::int32_t>();
        return RunCommand(
            unit, hub, [=](UnitLink& link) { return BringLevel(link, level, target); }, false, name,
            done);
    }
    const json step = body.value("step", json());
    if (step != "up" && step != "down") {
        return done(ErrorReply(400, "give {\"value\": N} or {\"step\": \"up\"|\"down\"}"));
    }
    const StepDirection direction = step == "up" ? StepDirection::Up : StepDirection::Down;
    RunCommand(
        unit, hub, [=](UnitLink& link) { return StepLevel(link, level, direction, 1); }, false,
        name, done);
}

// A static address passes the rules the panel's Apply has, before anything is sent: an address
// the unit could not be reached at is refused.
void SetNetwork(UnitMonitor& unit, EventHub& hub, const json& body, const ReplySink& done) {
    if (IsTrue(body, "defaultIp")) {
        return RunCommand(unit, hub, RestoreDefaultIp, true, "level", done);
    }
    const json mode = body.value("mode", json());
    if (mode == "dhcp") {
        return RunCommand(
            unit, hub,
            [](UnitLink& link) { return ApplyNetwork(link, AddressMode::Dhcp, std::nullopt); },
            true, "level", done);
    }
    if (mode != "static") {
        return done(ErrorReply(400,
                               "give {\"mode\": \"static\", \"ip\", \"mask\", \"gateway\"}, "
                               "{\"mode\": \"dhcp\"} or {\"defaultIp\": true}"));
    }
    Addresses addresses;
    auto parse = [&](const char* field, std::uint32_t& value) {
        const json& text = body.value(field, json());
        return text.is_string() && cli::ParseDotted(text.get<std::string>(), value);
    };
    if (!parse("ip", addresses.ip) || !parse("mask", addresses.mask) ||
        !parse("gateway", addresses.gateway)) {
        return done(ErrorReply(400, "a static address needs ip, mask and gateway as A.B.C.D"));
    }
    if (!ReachableAddresses(addresses)) return done(ErrorReply(400, "Invalid IP address or mask!"));
    RunCommand(
        unit, hub,
        [=](UnitLink& link) { return ApplyNetwork(link, AddressMode::Static, addresses); }, true,
        "level", done);
}

void FactoryReset(UnitMonitor& unit, EventHub& hub, const json& body, const ReplySink& done) {
    if (!IsTrue(body, "confirm")) {
        return done(ErrorReply(400,
                               "a factory reset resets every setting of the unit: "
                               "send {\"confirm\": true}"));
    }
    RunCommand(
        unit, hub, [](UnitLink& link) { return PressButton(link, *FindButton("factory-reset")); },
        true, "level", done);
}

}  // namespace

std::optional<HttpResponse> Api::Admit(const HttpRequest& head, std::size_t& bodyLimit) {
    const bool api = head.path.rfind("/api/", 0) == 0;
    if (head.method != "GET" && !(head.method == "POST" && api)) {
        HttpResponse refused = ApiResponse(ErrorReply(405, "only GET here, and POST under /api/"));
        refused.headers.emplace_back("Allow", api ? "GET, POST" : "GET");
        return refused;
    }
    const std::string host = head.Header("Host");
    if (!m_token && !LoopbackHost(host, m_port)) {
        return ApiResponse(ErrorReply(
            421, "this gateway answers at http://127.0.0.1:" + std::to_string(m_port) + "/ only"));
    }
    if (m_token && NeedsAuthorization(head.path) &&
        !Authorized(head.Header("Authorization"), *m_token)) {
        HttpResponse refused = ApiResponse(
            ErrorReply(401, "this gateway needs its token: Authorization: Bearer <token>"));
        refused.headers.emplace_back("WWW-Authenticate", "Bearer");
        return refused;
    }
    const std::optional<std::string> origin =
        head.HasHeader("Origin") ? std::optional(head.Header("Origin")) : std::nullopt;
    if ((head.method == "POST" || head.path == "/api/events") && !OwnOrigin(origin, host)) {
        return ApiResponse(ErrorReply(403, "a page of another site may not use this gateway"));
    }
    bodyLimit = head.path == "/api/firmware" ? kMostImageBytes : kMostCommandBytes;
    return std::nullopt;
}

void Api::Serve(HttpRequest request, Respond respond) {
    const Parts parts = Split(request.path);
    if (request.method == "GET") return Get(request, parts, respond);
    Post(request, parts, [respond](Reply reply) { respond(ApiResponse(reply)); });
}

void Api::Get(const HttpRequest& request, const Parts& parts, const Respond& respond) {
    auto reply = [&](const Reply& r) { respond(ApiResponse(r)); };
    if (parts == Parts{"api", "units"}) {
        json list = json::array();
        for (const UnitSnapshot& snapshot : m_units.Snapshots()) list.push_back(UnitJson(snapshot));
        return reply({200, {{"units", list}}});
    }
    if (parts.size() == 3 && parts[0] == "api" && parts[1] == "units") {
        UnitMonitor* unit = m_units.Find(parts[2]);
        return reply(unit ? Reply{200, UnitJson(unit->Snapshot())}
                          : ErrorReply(404, "no such unit: " + parts[2]));
    }
    if (parts.size() == 3 && parts[0] == "api" && parts[1] == "jobs") {
        return reply(m_jobs.Get(parts[2]));
    }
    if (parts == Parts{"api", "events"}) return Events(respond);
    if (parts == Parts{"metrics"}) {
        return respond({200,
                        "text/plain; version=0.0.4; charset=utf-8",
                        MetricsText(m_units.Snapshots(), Steady::now()) +
                            (m_extraMetrics ? m_extraMetrics() : ""),
                        {{"Cache-Control", "no-store"}},
                        nullptr});
    }
    const WebAsset* asset = parts.size() == 1 ? FindWebAsset(request.path.c_str()) : nullptr;
    if (!asset) return reply(ErrorReply(404, "nothing at " + request.path));
    respond({200,
             asset->contentType,
             std::string(reinterpret_cast<const char*>(asset->data), asset->size),
             {{"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"}},
             nullptr});
}

void Api::Post(const HttpRequest& request, const Parts& parts, const ReplySink& done) {
    const bool onUnit = parts.size() >= 4 && parts[0] == "api" && parts[1] == "units";
    const std::string action = onUnit ? parts[3] : "";
    if (onUnit && (parts.size() == 5
                       ? action == "press" || action == "level"
                       : parts.size() == 4 && (action == "network" || action == "factory-reset"))) {
        json body;
        UnitMonitor* unit = CommandUnit(m_units, parts[2], request, body, done);
        if (!unit) return;
        if (action == "press") return Press(*unit, m_hub, parts[4], done);
        if (action == "level") return SetLevel(*unit, m_hub, parts[4], body, done);
        if (action == "network") return SetNetwork(*unit, m_hub, body, done);
        return FactoryReset(*unit, m_hub, body, done);
    }
    if (parts == Parts{"api", "firmware"}) {
        if (!HasType(request, "application/octet-stream")) {
            return done(ErrorReply(415, "the image is sent as application/octet-stream"));
        }
        return done(
            m_jobs.Start(request.Param("units"), request.Param("controller"), request.body));
    }
    if (parts.size() == 4 && parts[0] == "api" && parts[1] == "jobs" && parts[3] == "continue") {
        if (!HasType(request, "application/json")) {
            return done(
                ErrorReply(415, "a command's body is JSON (Content-Type: application/json)"));
        }
        return done(m_jobs.Continue(parts[2]));
    }
    done(ErrorReply(404, "nothing at " + request.path));
}

void Api::Events(const Respond& respond) {
    std::shared_ptr<Subscription> subscription = m_hub.Subscribe();
    if (!subscription) {
        return respond(ApiResponse(ErrorReply(503, "too many event streams are open; close one")));
    }
    // Queued behind any event that came since subscribing, so no older state follows a newer.
    for (const UnitSnapshot& snapshot : m_units.Snapshots()) {
        subscription->Push(EventHub::Format("unit", UnitJson(snapshot).dump()));
    }
    respond({200, "text/event-stream", "", {{"Cache-Control", "no-store"}}, subscription});
}

}  // namespace vantrel::gateway

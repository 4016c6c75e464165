#include "gateway/api.h"

#include "clients/dotted_address.h"
#include "clients/level_names.h"
#include "gateway/access.h"
#include "gateway/metrics.h"
#include "gateway/unit_command.h"
#include "gateway/unit_json.h"
#include "gateway/web_assets.h"
#include "unit/buttons.h"

namespace vantrel::gateway {
namespace {

using httplib::Request;
using httplib::Response;
using nlohmann::json;

// A name from the request that is not UTF-8 is echoed with replacement characters, never thrown.
void Send(Response& res, const Reply& reply) {
    res.status = reply.status;
    res.set_content(reply.body.dump(-1, ' ', false, json::error_handler_t::replace),
                    "application/json");
}

bool HasType(const Request& req, const char* type) {
    return req.get_header_value("Content-Type").rfind(type, 0) == 0;
}

// The checks every command's request passes before anything is sent: the unit exists, the
// body is JSON of a bounded size. Sets `body` and returns the unit, or replies and returns null.
UnitMonitor* CommandUnit(Units& units, const Request& req, Response& res, json& body) {
    UnitMonitor* unit = units.Find(req.matches[1]);
    if (!unit) {
        Send(res, ErrorReply(404, "no such unit: " + std::string(req.matches[1])));
    } else if (!HasType(req, "application/json")) {
        Send(res, ErrorReply(415, "a command's body is JSON (Content-Type: application/json)"));
    } else if (req.body.size() > kMostCommandBytes) {
        Send(res, ErrorReply(413, "a command's body holds at most 64 KiB"));
    } else {
        body = json::parse(req.body, nullptr, false);
        if (body.is_object()) return unit;
        Send(res, ErrorReply(400, "the body is not a JSON object"));
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

void Press(Units& units, const Request& req, Response& res) {
    json body;
    UnitMonitor* unit = CommandUnit(units, req, res, body);
    if (!unit) return;
    const Button* button = PressableButton(req.matches[2]);
    if (!button)
        return Send(res, ErrorReply(404, "no such button: " + std::string(req.matches[2])));
    Send(res, RunCommand(
                  *unit, [button](UnitLink& link) { return PressButton(link, *button); }, false));
}

void SetLevel(Units& units, const Request& req, Response& res) {
    json body;
    UnitMonitor* unit = CommandUnit(units, req, res, body);
    if (!unit) return;
    const Level* found = cli::FindLevel(req.matches[2]);
    if (!found) return Send(res, ErrorReply(404, "no such level: " + std::string(req.matches[2])));
    const Level level = *found;
    const char* name = cli::NameOf(level);
    const std::int32_t highest = RangeOf(level).highest;
    if (body.contains("value")) {
        const json& value = body["value"];
        if (!value.is_number_integer() || value.get<std::int64_t>() < 0 ||
            value.get<std::int64_t>() > highest) {
            return Send(res,
                        ErrorReply(400, std::string(name) + " takes a whole number from 0 to " +
                                            std::to_string(highest)));
        }
        const auto target = value.get<std::int32_t>();
        return Send(res, RunCommand(
                             *unit, [=](UnitLink& link) { return BringLevel(link, level, target); },
                             false, name));
    }
    const json step = body.value("step", json());
    if (step != "up" && step != "down") {
        return Send(res, ErrorReply(400, "give {\"value\": N} or {\"step\": \"up\"|\"down\"}"));
    }
    const StepDirection direction = step == "up" ? StepDirection::Up : StepDirection::Down;
    Send(res, RunCommand(
                  *unit, [=](UnitLink& link) { return StepLevel(link, level, direction, 1); },
                  false, name));
}

void SetNetwork(Units& units, const Request& req, Response& res) {
    json body;
    UnitMonitor* unit = CommandUnit(units, req, res, body);
    if (!unit) return;
    if (IsTrue(body, "defaultIp")) {
        return Send(res, RunCommand(*unit, RestoreDefaultIp, true));
    }
    const json mode = body.value("mode", json());
    if (mode == "dhcp") {
        return Send(res, RunCommand(
                             *unit,
                             [](UnitLink& link) {
                                 return ApplyNetwork(link, AddressMode::Dhcp, std::nullopt);
                             },
                             true));
    }
    if (mode != "static") {
        return Send(res, ErrorReply(400,
                                    "give {\"mode\": \"static\", \"ip\", \"mask\", "
                                    "\"gateway\"}, {\"mode\": \"dhcp\"} or "
                                    "{\"defaultIp\": true}"));
    }
    Addresses addresses;
    auto parse = [&](const char* field, std::uint32_t& value) {
        const json& text = body.value(field, json());
        return text.is_string() && cli::ParseDotted(text.get<std::string>(), value);
    };
    if (!parse("ip", addresses.ip) || !parse("mask", addresses.mask) ||
        !parse("gateway", addresses.gateway)) {
        return Send(res, ErrorReply(400, "a static address needs ip, mask and gateway as A.B.C.D"));
    }
    Send(res,
         RunCommand(
             *unit,
             [=](UnitLink& link) { return ApplyNetwork(link, AddressMode::Static, addresses); },
             true));
}

void FactoryReset(Units& units, const Request& req, Response& res) {
    json body;
    UnitMonitor* unit = CommandUnit(units, req, res, body);
    if (!unit) return;
    if (!IsTrue(body, "confirm")) {
        return Send(res, ErrorReply(400,
                                    "a factory reset resets every setting of the unit: "
                                    "send {\"confirm\": true}"));
    }
    Send(res,
         RunCommand(
             *unit, [](UnitLink& link) { return PressButton(link, *FindButton("factory-reset")); },
             true));
}

void Events(Units& units, EventHub& hub, Response& res) {
    std::shared_ptr<Subscription> subscription = hub.Subscribe();
    if (!subscription) {
        return Send(res, ErrorReply(503, "too many event streams are open; close one"));
    }
    for (const UnitSnapshot& snapshot : units.Snapshots()) {
        subscription->Push(EventHub::Format("unit", UnitJson(snapshot).dump()));
    }
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider("text/event-stream",
                                     [subscription](std::size_t, httplib::DataSink& sink) {
                                         std::string text;
                                         if (!subscription->Next(text, std::chrono::seconds(15))) {
                                             sink.done();
                                             return true;
                                         }
                                         // A comment now and then finds out a client that has gone.
                                         if (text.empty()) text = ":\n\n";
                                         if (!sink.write(text.data(), text.size()))
                                             subscription->Close();
                                         return true;
                                     });
}

}  // namespace

void AddRoutes(httplib::Server& server, Units& units, EventHub& hub, FirmwareJobs& jobs,
               const std::optional<std::string>& token) {
    server.set_payload_max_length(kMostImageBytes);
    server.set_pre_routing_handler([token](const Request& req, Response& res) {
        if (!token || !NeedsAuthorization(req.path) ||
            Authorized(req.get_header_value("Authorization"), *token)) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        res.set_header("WWW-Authenticate", "Bearer");
        Send(res, ErrorReply(401, "this gateway needs its token: Authorization: Bearer <token>"));
        return httplib::Server::HandlerResponse::Handled;
    });

    server.Get("/api/units", [&units](const Request&, Response& res) {
        json list = json::array();
        for (const UnitSnapshot& snapshot : units.Snapshots()) list.push_back(UnitJson(snapshot));
        Send(res, {200, {{"units", list}}});
    });
    server.Get(R"(/api/units/([^/]+))", [&units](const Request& req, Response& res) {
        UnitMonitor* unit = units.Find(req.matches[1]);
        if (!unit)
            return Send(res, ErrorReply(404, "no such unit: " + std::string(req.matches[1])));
        Send(res, {200, UnitJson(unit->Snapshot())});
    });
    server.Post(R"(/api/units/([^/]+)/press/([^/]+))",
                [&units](const Request& req, Response& res) { Press(units, req, res); });
    server.Post(R"(/api/units/([^/]+)/level/([^/]+))",
                [&units](const Request& req, Response& res) { SetLevel(units, req, res); });
    server.Post(R"(/api/units/([^/]+)/network)",
                [&units](const Request& req, Response& res) { SetNetwork(units, req, res); });
    server.Post(R"(/api/units/([^/]+)/factory-reset)",
                [&units](const Request& req, Response& res) { FactoryReset(units, req, res); });
    server.Post("/api/firmware", [&jobs](const Request& req, Response& res) {
        if (!HasType(req, "application/octet-stream")) {
            return Send(res, ErrorReply(415, "the image is sent as application/octet-stream"));
        }
        Send(res,
             jobs.Start(req.get_param_value("units"), req.get_param_value("controller"), req.body));
    });
    server.Get(R"(/api/jobs/([^/]+))",
               [&jobs](const Request& req, Response& res) { Send(res, jobs.Get(req.matches[1])); });
    server.Post(R"(/api/jobs/([^/]+)/continue)", [&jobs](const Request& req, Response& res) {
        if (!HasType(req, "application/json")) {
            return Send(res, ErrorReply(415,
                                        "a command's body is JSON (Content-Type: "
                                        "application/json)"));
        }
        Send(res, jobs.Continue(req.matches[1]));
    });
    server.Get("/api/events",
               [&units, &hub](const Request&, Response& res) { Events(units, hub, res); });
    server.Get("/metrics", [&units](const Request&, Response& res) {
        res.set_content(MetricsText(units.Snapshots(), Steady::now()),
                        "text/plain; version=0.0.4; charset=utf-8");
    });
    server.Get(R"(/[^/]*)", [](const Request& req, Response& res) {
        const WebAsset* asset = FindWebAsset(req.path.c_str());
        if (!asset) {
            res.status = 404;
            return;
        }
        res.set_content(reinterpret_cast<const char*>(asset->data), asset->size,
                        asset->contentType);
    });
}

}  // namespace vantrel::gateway

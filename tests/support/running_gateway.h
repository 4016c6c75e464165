#pragma once

#include <httplib.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clients/dotted_address.h"
#include "gateway/gateway.h"
#include "tests/support/api_responses.h"
#include "tests/support/fake_clock.h"
#include "tests/support/simulated_unit.h"

namespace vantrel::testing {

/// Waits up to `limit` for `done`, checking every 20 ms.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

/// Seconds gone since `since`, for a test's bounds on how long something took.
inline double SecondsSince(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

/// Waits up to `limit` for GET `path` to answer JSON holding `value` at `pointer` ("/link").
inline bool Reaches(httplib::Client& client, const std::string& path, const char* pointer,
                    const nlohmann::json& value, std::chrono::milliseconds limit) {
    const nlohmann::json::json_pointer at(pointer);
    return WaitUntil(
        [&] {
            const auto reply = client.Get(path.c_str());
            if (!reply) return false;
            const nlohmann::json body = nlohmann::json::parse(reply->body, nullptr, false);
            return body.contains(at) && body[at] == value;
        },
        limit);
}

/// Simulated units on 127.0.60.1 upwards and a gateway in this process, polling every second,
/// on a free port of `host`. Its links skip the protocols' fixed pauses, which simulated units
/// do not need and the protocols' own tests check.
class RunningGateway {
  public:
    /// `adjust` may change the options before the gateway is made: its limits, say.
    explicit RunningGateway(int unitCount, const std::string& host = "127.0.0.1",
                            std::optional<std::string> token = std::nullopt,
                            const sim::Faults& faults = {},
                            const std::function<void(gateway::GatewayOptions&)>& adjust = {})
        : host(host) {
        gateway::GatewayOptions options;
        options.host = host;
        options.port = 0;
        options.token = std::move(token);
        options.monitor.poll = std::chrono::seconds(1);
        if (adjust) adjust(options);
        for (int i = 1; i <= unitCount; ++i) {
            units.push_back(
                std::make_unique<SimulatedUnit>("127.0.60." + std::to_string(i), faults));
            started = started && units.back()->Start();
            clients::Target target{units.back()->address, false, 0};
            clients::ParseDotted(target.name, target.address);
            options.units.push_back(target);
        }
        service = std::make_unique<gateway::Gateway>(options, gateway::WaitableClock::System(),
                                                     gateway::RealLinks(LinkClock()));
        started = started && service->Start(error);
    }

    httplib::Client Client() const {
        httplib::Client client(host, service->Port());
        client.set_read_timeout(std::chrono::seconds(30));
        Recording(client);
        return client;
    }

    /// The unit as GET /api/units/{unit} gives it; null when the request failed.
    nlohmann::json Unit(const std::string& name) const {
        auto reply = Client().Get(("/api/units/" + name).c_str());
        if (!reply || reply->status != 200) return nullptr;
        return nlohmann::json::parse(reply->body);
    }
    bool AllUp(std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
        return WaitUntil(
            [&] {
                for (const auto& unit : units) {
                    if (Unit(unit->address).value("link", "") != "up") return false;
                }
                return true;
            },
            limit);
    }
    /// A command's POST with a JSON body.
    httplib::Result Post(const std::string& path, const nlohmann::json& body) const {
        return Client().Post(path.c_str(), body.dump(), "application/json");
    }

    /// Shared by every gateway here, and never moved with one: it holds no state.
    static NoPauseClock& LinkClock() {
        static NoPauseClock clock;
        return clock;
    }

    const std::string host;
    std::vector<std::unique_ptr<SimulatedUnit>> units;
    std::unique_ptr<gateway::Gateway> service;
    bool started = true;
    std::string error;
};

}  // namespace vantrel::testing

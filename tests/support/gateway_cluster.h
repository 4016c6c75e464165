#pragma once
// Gateway processes sharing simulated units through a real one-member etcd, and what a test
// asks of them: each unit's owner as etcd names it, a gateway's figures, a unit's link there.
#include <gtest/gtest.h>

#include <httplib.h>
#include <sysexits.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "gateway/cluster/etcd_client.h"
#include "gateway/cluster/rendezvous.h"
#include "sim/line_log.h"
#include "tests/support/etcd_server.h"
#include "tests/support/gateway_process.h"
#include "tests/support/running_gateway.h"
#include "tests/support/sanitized.h"
#include "tests/support/simulated_unit.h"
#include "tests/support/temp_file.h"

namespace vantrel::testing {

/// Nine simulated units on `block` 1 upwards (each logging its lines with their sender, in
/// LineLogPath), their names put into etcd, and the gateways a test starts with Join.
class GatewayCluster : public ::testing::Test {
  public:
    static constexpr int kUnits = 9;
    static constexpr std::chrono::seconds kTtl{2};
    static constexpr std::chrono::seconds kLimit{15};
    /// The gateways' limit for one etcd call (--etcd-timeout): a sanitized gateway on a loaded
    /// machine may take over a second for a TLS handshake and an authentication.
    static inline const std::string kEtcdTimeout = kSanitized ? "5000" : "1000";
    static inline const std::string kPrefix = "/vantrel/";

  protected:
    explicit GatewayCluster(std::string block = "127.0.61.") : unitBlock(std::move(block)) {}

    void SetUp() override {
        ASSERT_TRUE(etcd.Running()) << etcd.Error();
        std::string units;
        for (int i = 1; i <= kUnits; ++i) {
            const std::string address = unitBlock + std::to_string(i);
            lineLogs.push_back(std::make_unique<LoggedLines>(address));
            sims.push_back(std::make_unique<SimulatedUnit>(address, unitFaults));
            sims.back()->console.SetLineLog(lineLogs.back()->log);
            ASSERT_TRUE(sims.back()->Start());
            units += address + "\n";
        }
        ASSERT_TRUE(client.Put(kPrefix + "units", units).Ok());
    }

    /// Starts the gateway named `id` on its own port, with `extra` options, reaching etcd at
    /// `etcdUrl` (the test's etcd when empty). Started again, as its service manager would,
    /// while it exits with EX_TEMPFAIL: etcd slow to answer on a loaded machine, say.
    void Join(const std::string& id, const std::vector<std::string>& extra = {},
              std::string etcdUrl = {}) {
        if (etcdUrl.empty()) etcdUrl = "http://127.0.0.1:" + std::to_string(etcd.Place().port);
        const auto end = std::chrono::steady_clock::now() + kLimit;
        for (;;) {
            ports[id] = FreeLoopbackPorts(1).front();
            std::vector<std::string> arguments{
                "--listen",         "127.0.0.1:" + std::to_string(ports[id]),
                "--etcd",           etcdUrl,
                "--etcd-lease-ttl", std::to_string(kTtl.count()),
                "--etcd-timeout",   kEtcdTimeout,
                "--poll",           "1",
                "--gateway-id",     id};
            arguments.insert(arguments.end(), extra.begin(), extra.end());
            auto process = std::make_unique<GatewayProcess>(arguments);
            if (process->Serving(kLimit)) {
                gateways[id] = std::move(process);
                return;
            }
            const bool again = process->Exit(std::chrono::seconds(1)) == EX_TEMPFAIL &&
                               std::chrono::steady_clock::now() < end;
            ASSERT_TRUE(again) << process->Errors();
            std::fprintf(stderr, "%s started again: %s", id.c_str(), process->Errors().c_str());
        }
    }

    /// Each unit's owner as its key in etcd names it.
    std::map<std::string, std::string> Owners() {
        std::map<std::string, std::string> owners;
        const auto read = client.GetPrefix(kPrefix + "owners/");
        if (!read.Ok()) return owners;
        for (const auto& kv : read.Value().kvs) {
            owners[kv.key.substr(kPrefix.size() + 7)] =
                nlohmann::json::parse(kv.value).value("id", "");
        }
        return owners;
    }

    httplib::Client Client(const std::string& id) {
        httplib::Client http("127.0.0.1", ports.at(id));
        http.set_read_timeout(std::chrono::seconds(10));
        if (!token.empty()) http.set_bearer_token_auth(token);
        return http;
    }

    /// The figure `name` in the gateway's metrics; -1 when not there.
    double Metric(const std::string& id, const std::string& name) {
        const auto reply = Client(id).Get("/metrics");
        if (!reply) return -1;
        const auto at = reply->body.find("\n" + name + " ");
        if (at == std::string::npos) return -1;
        return std::stod(reply->body.substr(at + name.size() + 2));
    }

    std::string LinkOn(const std::string& id, const std::string& unit) {
        const auto reply = Client(id).Get(("/api/units/" + unit).c_str());
        if (!reply || reply->status != 200) return "";
        return nlohmann::json::parse(reply->body).value("link", "");
    }

    int Press(const std::string& id, const std::string& unit) {
        const auto reply = Client(id).Post(("/api/units/" + unit + "/press/mute").c_str(), "{}",
                                           "application/json");
        return reply ? reply->status : 0;
    }

    /// Whether every unit is owned by the member rendezvous hashing gives it among `live`, and
    /// is up there.
    bool SpreadOver(const std::vector<std::string>& live) {
        const auto owners = Owners();
        if (owners.size() != kUnits) return false;
        for (const auto& sim : sims) {
            const std::string owner = gateway::cluster::RendezvousOwner(live, sim->address);
            const auto found = owners.find(sim->address);
            if (found == owners.end() || found->second != owner) return false;
            if (LinkOn(owner, sim->address) != "up") return false;
        }
        return true;
    }

    /// Where the unit `i` (from 0) logs the lines it receives.
    const std::string& LineLogPath(std::size_t i) const { return lineLogs.at(i)->file.Path(); }

    struct LoggedLines {
        explicit LoggedLines(const std::string& address) : file("lines-" + address, "") {
            log.Open(file.Path());
        }
        TempFile file;
        sim::LineLog log;
    };

    sim::Faults unitFaults;  // every unit's, as a test's constructor sets them
    EtcdServer etcd;
    gateway::cluster::EtcdClient client{{etcd.Place()}, std::chrono::milliseconds(2000)};
    const std::string unitBlock;                         // the units' addresses but the last number
    std::vector<std::unique_ptr<LoggedLines>> lineLogs;  // outlive the units that write them
    std::vector<std::unique_ptr<SimulatedUnit>> sims;
    std::map<std::string, int> ports;
    std::string token;  // sent by Client, for gateways given tokens
    std::map<std::string, std::unique_ptr<GatewayProcess>> gateways;  // killed first
};

}  // namespace vantrel::testing

// An owner paused past its lease, or cut off from etcd, and then back: the others take its units
// over, and the units' line logs show that it sent them nothing from then until it had claimed
// them again, and that no unit heard two gateways at once. Each gateway's links leave from
// 127.0.63.N, so that the units can tell them apart.
#include <gtest/gtest.h>

#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "gateway/cluster/rendezvous.h"
#include "tests/support/gateway_cluster.h"
#include "tests/support/line_log_reader.h"
#include "tests/support/socat_proxy.h"

namespace vantrel {
namespace gateway_no_overlap_test {
namespace {

using gateway::cluster::RendezvousOwner;
using nlohmann::json;
using testing::LoggedLine;
using testing::WaitUntil;

const std::vector<std::string> kThree{"g1", "g2", "g3"}, kTwo{"g1", "g3"};

// Lines from two gateways closer than this are two gateways driving one unit at once. One cut
// off from etcd stops half a second (its margin at this time to live) before its lease can
// expire there, and another claims its units only once it has.
constexpr std::chrono::milliseconds kOwnershipWindow{400};

// steady_clock's, as the units' line logs note it.
std::int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Presses Mute on the units through one gateway, over and over on a thread of its own until it
// goes: commands on their way as well as polls when that gateway is stopped.
class Presser {
  public:
    Presser(int port, std::vector<std::string> units)
        : m_thread([this, port, units] {
              httplib::Client http("127.0.0.1", port);
              http.set_read_timeout(std::chrono::seconds(3));
              for (std::size_t i = 0; !m_stop; ++i) {
                  const std::string path = "/api/units/" + units[i % units.size()] + "/press/mute";
                  const auto reply = http.Post(path.c_str(), "{}", "application/json");
                  if (reply && reply->status == 200) ++m_done;
              }
          }) {}
    ~Presser() {
        m_stop = true;
        m_thread.join();
    }
    Presser(const Presser&) = delete;
    Presser& operator=(const Presser&) = delete;

    int Done() const { return m_done; }

  private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_done{0};
    std::thread m_thread;  // last: it uses the others
};

class GatewayNoOverlapTest : public testing::GatewayCluster {
  protected:
    GatewayNoOverlapTest() : GatewayCluster("127.0.62.") {}

    /// Starts gateway gN with its links from 127.0.63.N.
    void JoinFrom(const std::string& id, const std::string& etcdUrl = {}) {
        Join(id, {"--link-source", Source(id)}, etcdUrl);
    }
    static std::string Source(const std::string& id) { return "127.0.63." + id.substr(1); }

    /// The units whose key in etcd names `id`.
    std::vector<std::string> UnitsOf(const std::string& id) {
        std::vector<std::string> units;
        for (const auto& [unit, owner] : Owners()) {
            if (owner == id) units.push_back(unit);
        }
        return units;
    }

    /// Every unit but `lost` heard only its owner among the three from `since` until now.
    void ExpectKeptHeardOnlyTheirOwners(const std::vector<std::string>& lost, std::int64_t since) {
        const std::int64_t now = NowMicros();
        for (const auto& sim : sims) {
            if (std::find(lost.begin(), lost.end(), sim->address) != lost.end()) continue;
            ExpectOnlyFrom(RendezvousOwner(kThree, sim->address), sim->address, since, now);
        }
    }

    /// Whether every one of `units` is owned by the gateway rendezvous hashing gives it among
    /// `live`.
    bool OwnedAmong(const std::vector<std::string>& units, const std::vector<std::string>& live) {
        const auto owners = Owners();
        for (const std::string& unit : units) {
            const auto found = owners.find(unit);
            if (found == owners.end() || found->second != RendezvousOwner(live, unit)) return false;
        }
        return true;
    }

    /// Waits until g2 has its units back, noting for each of them the last moment it was seen
    /// still a survivor's: g2 may send to it only after that.
    bool AwaitHandBack(const std::vector<std::string>& lost,
                       std::map<std::string, std::int64_t>& survivorsUntil) {
        return WaitUntil(
            [&] {
                const std::int64_t asked = NowMicros();
                const auto owners = Owners();
                for (const std::string& unit : lost) {
                    const auto found = owners.find(unit);
                    if (found != owners.end() && found->second == RendezvousOwner(kTwo, unit)) {
                        survivorsUntil[unit] = asked;
                    }
                }
                return SpreadOver(kThree);
            },
            kLimit);
    }

    /// What unit `unit` heard from `from` until before `until` (steady_clock's microseconds).
    std::vector<LoggedLine> Heard(const std::string& unit, std::int64_t from,
                                  std::int64_t until) const {
        std::vector<LoggedLine> lines;
        for (std::size_t i = 0; i < sims.size(); ++i) {
            if (sims[i]->address != unit) continue;
            for (const LoggedLine& line : testing::ReadLineLog(LineLogPath(i))) {
                if (line.micros >= from && line.micros < until) lines.push_back(line);
            }
        }
        return lines;
    }

    /// Checks that the unit heard only gateway `id` from `from` until before `until`.
    void ExpectOnlyFrom(const std::string& id, const std::string& unit, std::int64_t from,
                        std::int64_t until) const {
        for (const LoggedLine& line : Heard(unit, from, until)) {
            EXPECT_EQ(line.address, Source(id))
                << unit << " heard \"" << line.line << "\" " << (line.micros - from)
                << " us into a span when only " << id << " owned it";
        }
    }

    /// Checks that the unit never heard two gateways less than the window apart from `from`
    /// until before `until`.
    void ExpectOneAtATime(const std::string& unit, std::int64_t from, std::int64_t until) const {
        for (const auto& overlap :
             testing::FindOverlaps(Heard(unit, from, until), kOwnershipWindow)) {
            ADD_FAILURE() << unit << " heard " << overlap.before.address << " (\""
                          << overlap.before.line << "\") then " << overlap.after.address << " (\""
                          << overlap.after.line << "\") "
                          << (overlap.after.micros - overlap.before.micros) << " us later";
        }
    }
};

TEST_F(GatewayNoOverlapTest, AnOwnerPausedPastItsLeaseSendsNothingToTheUnitsTakenFromIt) {
    for (const std::string& id : kThree) JoinFrom(id);
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(kThree); }, kLimit)) << json(Owners()).dump();
    const std::int64_t settledAt = NowMicros();
    const std::vector<std::string> lost = UnitsOf("g2");
    ASSERT_FALSE(lost.empty());

    std::int64_t takenAt = 0;
    std::map<std::string, std::int64_t> survivorsUntil;
    {
        // Stopped with commands on their way, and its links open: the units serve one link at a
        // time, so the survivors claim its units but reach them only once it has let them go.
        Presser presser(ports["g2"], lost);
        ASSERT_TRUE(WaitUntil([&] { return presser.Done() > 0; }, kLimit));
        gateways["g2"]->Signal(SIGSTOP);
        ASSERT_TRUE(WaitUntil([&] { return OwnedAmong(lost, kTwo); }, kLimit))
            << json(Owners()).dump();
        takenAt = NowMicros();
        gateways["g2"]->Signal(SIGCONT);
        ASSERT_TRUE(AwaitHandBack(lost, survivorsUntil)) << json(Owners()).dump();
    }

    ExpectKeptHeardOnlyTheirOwners(lost, settledAt);
    for (const std::string& unit : lost) {
        // Taken back at the end: g2's lines may follow a survivor's at once then.
        ASSERT_TRUE(survivorsUntil.count(unit)) << unit;
        ExpectOneAtATime(unit, settledAt, survivorsUntil[unit]);
        ExpectOnlyFrom(RendezvousOwner(kTwo, unit), unit, takenAt, survivorsUntil[unit]);
    }
}

TEST_F(GatewayNoOverlapTest, AnOwnerCutOffFromEtcdStopsBeforeItsLeaseCanHaveExpiredAndRejoins) {
    testing::SocatProxy path(etcd.Place().port);
    ASSERT_TRUE(path.Open()) << "socat: scripts/install-deps installs it";
    JoinFrom("g1");
    JoinFrom("g2", "http://127.0.0.1:" + std::to_string(path.Port()));
    JoinFrom("g3");
    ASSERT_TRUE(WaitUntil([&] { return SpreadOver(kThree); }, kLimit)) << json(Owners()).dump();
    const std::int64_t settledAt = NowMicros();
    const std::vector<std::string> lost = UnitsOf("g2");
    ASSERT_FALSE(lost.empty());

    path.Close();
    // Its keys go with its lease in etcd; the last moment one was seen is before that.
    std::int64_t keysSeen = NowMicros();
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::int64_t asked = NowMicros();
            if (!UnitsOf("g2").empty()) keysSeen = asked;
            return SpreadOver(kTwo);
        },
        kLimit))
        << json(Owners()).dump();
    EXPECT_EQ(Metric("g2", "vantrel_gateway_lease_held"), 0);
    EXPECT_EQ(Metric("g2", "vantrel_gateway_units_owned"), 0);

    const std::int64_t reopenedAt = NowMicros();
    ASSERT_TRUE(path.Open());
    std::map<std::string, std::int64_t> survivorsUntil;
    ASSERT_TRUE(AwaitHandBack(lost, survivorsUntil)) << json(Owners()).dump();

    ExpectKeptHeardOnlyTheirOwners(lost, settledAt);
    for (const std::string& unit : lost) {
        // g2 quiet a window before its survivor's first line, and until it had claimed the
        // unit again once its way to etcd was back.
        ASSERT_TRUE(survivorsUntil.count(unit)) << unit;
        EXPECT_FALSE(Heard(unit, keysSeen, reopenedAt).empty()) << unit;
        ExpectOneAtATime(unit, settledAt, reopenedAt);
        ExpectOnlyFrom(RendezvousOwner(kTwo, unit), unit, keysSeen, survivorsUntil[unit]);
    }
}

}  // namespace
}  // namespace gateway_no_overlap_test
}  // namespace vantrel

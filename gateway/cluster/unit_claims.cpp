#include "gateway/cluster/unit_claims.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "gateway/cluster/rendezvous.h"

namespace vantrel::gateway::cluster {
namespace {

// The margin for the clocks' drift: a second, or a quarter of a short time to live.
Clock::Duration MarginOf(std::chrono::seconds ttl) {
    return std::min<Clock::Duration>(std::chrono::seconds(1),
                                     std::chrono::duration_cast<Clock::Duration>(ttl) / 4);
}

}  // namespace

UnitClaims::UnitClaims(EtcdClient& etcd, const ClusterSettings& settings, Units& units,
                       WaitableClock& clock, std::function<void()> stateChanged)
    : m_etcd(etcd),
      m_settings(settings),
      m_units(units),
      m_clock(clock),
      m_stateChanged(std::move(stateChanged)),
      m_view(etcd, settings.etcd, settings.prefix, [this] {
          {
              std::lock_guard<std::mutex> lock(m_mutex);
              m_woken = true;
          }
          m_wake.notify_all();
      }) {}

UnitClaims::~UnitClaims() {
    Stop();
    std::unique_ptr<Lease> lease;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        lease.swap(m_lease);
    }
}

void UnitClaims::Start() {
    m_thread = std::thread([this] { Run(); });
}

void UnitClaims::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

bool UnitClaims::MayWrite() const { return HeldLease() != 0; }

LeaseId UnitClaims::HeldLease() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lease && m_lease->Held(m_clock.Now()) ? m_lease->Id() : 0;
}

UnitOwner UnitClaims::OwnerOf(const std::string& unit) const {
    if (Claimed(unit) && MayWrite()) return {Ownership::kHere, m_settings.self};
    const std::optional<OwnerKey> key = m_view.OwnerOf(unit);
    if (key && key->owner.id != m_settings.self.id) return {Ownership::kElsewhere, key->owner};
    return {Ownership::kNobody, {}};
}

ClusterFigures UnitClaims::Figures() const {
    ClusterFigures figures;
    figures.leaseHeld = MayWrite();
    figures.members = m_view.Members().size();
    for (const groups::UnitEntry& entry : m_units.Entries()) {
        if (figures.leaseHeld && Claimed(entry.unit)) ++figures.unitsOwned;
        if (!m_view.OwnerOf(entry.unit)) ++figures.unitsUnowned;
    }
    return figures;
}

bool UnitClaims::Claimed(const std::string& unit) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_claimed.count(unit) > 0;
}

void UnitClaims::SetClaimed(const std::string& unit, bool claimed) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (claimed) {
        m_claimed.insert(unit);
    } else {
        m_claimed.erase(unit);
    }
}

void UnitClaims::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        lock.unlock();
        Step();
        lock.lock();
        // Woken at once by a change in etcd, and in time to drop the units as the lease's
        // deadline passes.
        Clock::TimePoint until = m_clock.Now() + kPeriod;
        if (m_lease && m_lease->Held(m_clock.Now())) until = std::min(until, m_lease->Deadline());
        m_clock.WaitUntil(m_wake, lock, until, [this] { return m_stopping || m_woken; });
        m_woken = false;
    }
}

void UnitClaims::KeepLease() {
    std::unique_ptr<Lease> gone;
    std::set<std::string> lost;
    Lease* lease = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_lease && m_lease->Deadline() == Clock::TimePoint::min()) {
            // Gone in etcd, and the claims with it.
            gone.swap(m_lease);
            lost.swap(m_claimed);
            m_joined = false;
        }
        lease = m_lease.get();
    }
    for (const std::string& unit : lost) {
        if (const auto monitor = m_units.Find(unit)) monitor->Drop();
    }
    gone.reset();
    if (!lease) {
        // A new lease lets every link's lines through again, so none may still be open: a link
        // busy with a command when the old lease was lost would send on to a unit that another
        // gateway may own by now.
        const UnitList list = m_units.List();
        const bool closed =
            std::all_of(list.monitors.begin(), list.monitors.end(),
                        [](const auto& monitor) { return monitor->Parked() || monitor->Ended(); });
        if (!closed) return;  // tried again next time
        auto made = std::make_unique<Lease>(
            m_etcd, m_clock, Lease::Timing{m_settings.leaseTtl, MarginOf(m_settings.leaseTtl)});
        if (made->Start()) return;  // etcd not there yet: tried again next time
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lease = std::move(made);
        lease = m_lease.get();
    }
    if (m_joined) return;
    const nlohmann::json member{{"id", m_settings.self.id}, {"url", m_settings.self.url}};
    const auto put =
        m_etcd.Put(m_settings.prefix + "members/" + m_settings.self.id, member.dump(), lease->Id());
    m_joined = put.Ok();
}

std::vector<std::string> UnitClaims::Sharing(bool holding) const {
    std::vector<std::string> ids;
    for (const auto& [id, member] : m_view.Members()) ids.push_back(id);
    // Its own key may not have come back through the watch yet.
    if (holding && m_joined && std::find(ids.begin(), ids.end(), m_settings.self.id) == ids.end()) {
        ids.push_back(m_settings.self.id);
    }
    return ids;
}

std::string UnitClaims::Hex(LeaseId lease) {
    char hex[20];
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(lease));
    return hex;
}

std::string UnitClaims::OwnerValue(LeaseId lease) const {
    return nlohmann::json{
        {"id", m_settings.self.id}, {"url", m_settings.self.url}, {"lease", Hex(lease)}}
        .dump();
}

std::optional<Hold> UnitClaims::ClaimOn(const std::string& unit) const {
    const LeaseId lease = HeldLease();
    if (lease == 0 || !Claimed(unit)) return std::nullopt;
    return Hold{Condition::ValueOf(m_settings.prefix + "owners/" + unit, OwnerValue(lease)), lease};
}

nlohmann::json UnitClaims::Signature() const {
    const LeaseId lease = HeldLease();
    return {{"id", m_settings.self.id}, {"lease", lease ? nlohmann::json(Hex(lease)) : nullptr}};
}

bool UnitClaims::Running(const std::string& id, const std::string& lease) const {
    const std::optional<LeaseId> live = m_view.MemberLease(id);
    return live && Hex(*live) == lease;
}

std::optional<GatewayMember> UnitClaims::Member(const std::string& id) const {
    const std::map<std::string, GatewayMember> members = m_view.Members();
    const auto found = members.find(id);
    if (found == members.end()) return std::nullopt;
    return found->second;
}

void UnitClaims::Step() {
    KeepLease();
    if (!m_view.Following()) m_view.Sync();
    if (m_view.TakeStateChange() && m_stateChanged) m_stateChanged();
    const LeaseId lease = HeldLease();
    const std::vector<std::string> sharing = Sharing(lease != 0);
    const UnitList list = m_units.List();
    for (const auto& monitor : list.monitors) Tend(*monitor, lease, sharing);
    // A unit taken out of the units while claimed: its key goes too, and then its published
    // state (which, the claim gone, no late put brings back).
    std::set<std::string> claimed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        claimed = m_claimed;
    }
    for (const std::string& unit : claimed) {
        const bool held =
            std::any_of(list.entries.begin(), list.entries.end(),
                        [&](const groups::UnitEntry& entry) { return entry.unit == unit; });
        if (!held && m_etcd.Delete(m_settings.prefix + "owners/" + unit).Ok()) {
            SetClaimed(unit, false);
            m_etcd.Delete(m_settings.prefix + "state/" + unit);
        }
    }
}

void UnitClaims::Tend(UnitMonitor& monitor, LeaseId lease,
                      const std::vector<std::string>& sharing) {
    const std::string& unit = monitor.Name();
    const std::string key = m_settings.prefix + "owners/" + unit;
    const std::optional<OwnerKey> owner = m_view.OwnerOf(unit);
    const bool claimed = Claimed(unit);
    if (claimed && owner && owner->owner.id != m_settings.self.id) {
        // Another has it now: this gateway's claim went with a lease it thought it held.
        SetClaimed(unit, false);
        monitor.Drop();
        return;
    }
    if (lease == 0) {
        // Held no longer: nothing more may reach the unit. The claim may come back with the
        // lease, if etcd kept it.
        if (claimed || !monitor.Parked()) monitor.Drop();
        return;
    }
    const bool wanted = RendezvousOwner(sharing, unit) == m_settings.self.id;
    if (claimed) {
        if (wanted || monitor.Updating()) {
            monitor.Drive();
        } else if (!monitor.Parked()) {
            monitor.Release();
        } else if (m_etcd.Delete(key).Ok()) {
            SetClaimed(unit, false);
        }
    } else if (wanted && !owner) {
        const auto put = m_etcd.PutIf(key, Condition::Absent(), OwnerValue(lease), lease);
        if (put.Ok() && put.Value()) {
            SetClaimed(unit, true);
            monitor.Drive();
        }
    } else if (!monitor.Parked()) {
        // Not claimed, so not driven, whatever came before.
        monitor.Drop();
    }
}

}  // namespace vantrel::gateway::cluster

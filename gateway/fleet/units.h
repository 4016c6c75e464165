#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clients/link_factory.h"
#include "gateway/fleet/unit_monitor.h"
#include "gateway/fleet/write_guard.h"
#include "groups/units_file.h"

namespace vantrel::gateway {

/// Makes the link to `unit`; its console's waits end early once `stop` is set.
using UnitLinkMaker = std::function<std::unique_ptr<UnitLink>(const clients::Target& unit,
                                                              const std::atomic<int32_t>& stop)>;
/// The units' real links, their console or serial port, timed on `clock`; with `mayWrite`,
/// each connect and each send asks it first, and is refused when it may not; consoles are
/// reached from the local address `source` when one is given.
UnitLinkMaker RealLinks(Clock& clock, MayWrite mayWrite = {},
                        std::optional<std::uint32_t> source = std::nullopt);

/// The units as they stand at one moment: each unit as a selector sees it, and its monitor,
/// in the same order.
struct UnitList {
    std::vector<groups::UnitEntry> entries;
    std::vector<std::shared_ptr<UnitMonitor>> monitors;
};

/// The units the gateway holds, in their order, each with its monitor, and a watch that tells
/// of a unit gone silent while its link still waits on it and keeps the commands' deadlines.
/// Units come and go while it runs: a reader holds the monitor it found (shared), and a removed
/// unit's monitor is stopped, so whatever is still sent to it is answered as stopped. The
/// monitors' links come from `makeLink`, and all of them keep time on `clock`.
class Units {
  public:
    Units(WaitableClock& clock, UnitLinkMaker makeLink, const MonitorOptions& options)
        : m_clock(clock), m_makeLink(std::move(makeLink)), m_options(options) {}
    ~Units() { Stop(); }
    Units(const Units&) = delete;
    Units& operator=(const Units&) = delete;

    /// Adds the monitor of `target`, named `name`, last; `changed` is told each change of it.
    /// Once started, the monitor starts at once.
    void Add(const std::string& name, const clients::Target& target, UnitMonitor::Changed changed,
             UnitNaming naming = {});
    /// Takes the unit out at once and stops its monitor: a command that runs ends, those queued
    /// are answered as stopped. `gone` is called once its thread has ended, after its last
    /// change was told. False for a unit the gateway does not hold.
    bool Remove(const std::string& name, std::function<void()> gone);
    /// Gives the unit a new name and labels, told as a change of it; false when not held.
    bool Rename(const std::string& name, UnitNaming naming);
    /// nullptr for a unit the gateway does not hold.
    std::shared_ptr<UnitMonitor> Find(const std::string& name) const;
    std::vector<UnitSnapshot> Snapshots() const;
    /// Each unit as a selector sees it, in order: named as the API names it, with its name and
    /// labels.
    std::vector<groups::UnitEntry> Entries() const;
    UnitList List() const;
    void Start();
    /// No more commands; every monitor ends, but those running a firmware update, which end
    /// when it has.
    void BeginStop();
    /// The units whose firmware update is still running.
    std::vector<std::string> Updating() const;
    /// Ends every monitor now; a firmware update that runs is stopped between its packets.
    void Stop();

  private:
    struct Removed {
        std::shared_ptr<UnitMonitor> monitor;
        std::function<void()> gone;
    };
    static constexpr std::chrono::milliseconds kWatchPeriod{100};
    void Watch();
    /// Joins the removed monitors whose thread has ended, on the watch; all of them with `all`.
    void EndRemoved(bool all);

    WaitableClock& m_clock;
    const UnitLinkMaker m_makeLink;
    const MonitorOptions m_options;
    mutable std::mutex m_listMutex;  // the list below: the network's threads read it
    UnitList m_list;
    std::vector<Removed> m_removed;  // held until their threads have ended
    bool m_started = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_watch;
};

}  // namespace vantrel::gateway

#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clients/link_factory.h"
#include "gateway/fleet/unit_monitor.h"
#include "groups/units_file.h"

namespace vantrel::gateway {

/// Makes the link to `unit`; its console's waits end early once `stop` is set.
using UnitLinkMaker = std::function<std::unique_ptr<UnitLink>(const clients::Target& unit,
                                                              const std::atomic<int32_t>& stop)>;
/// The units' real links, their console or serial port, timed on `clock`.
UnitLinkMaker RealLinks(Clock& clock);

/// The units the gateway was given, in their order, each with its monitor, and a watch that
/// tells of a unit gone silent while its link still waits on it and keeps the commands'
/// deadlines. The monitors' links come from `makeLink`, and all of them keep time on `clock`.
class Units {
  public:
    Units(WaitableClock& clock, UnitLinkMaker makeLink, const MonitorOptions& options)
        : m_clock(clock), m_makeLink(std::move(makeLink)), m_options(options) {}
    ~Units() { Stop(); }
    Units(const Units&) = delete;
    Units& operator=(const Units&) = delete;

    /// Adds the monitor of `target`, named `name`; `changed` is told each change of it.
    void Add(const std::string& name, const clients::Target& target, UnitMonitor::Changed changed,
             UnitNaming naming = {});
    /// nullptr for a unit the gateway does not hold.
    UnitMonitor* Find(const std::string& name) const;
    std::vector<UnitSnapshot> Snapshots() const;
    /// Each unit as a selector sees it, in order: named as the API names it, with its name and
    /// labels.
    const std::vector<groups::UnitEntry>& Entries() const { return m_entries; }
    void Start();
    /// No more commands; every monitor ends, but those running a firmware update, which end
    /// when it has.
    void BeginStop();
    /// The units whose firmware update is still running.
    std::vector<std::string> Updating() const;
    /// Ends every monitor now; a firmware update that runs is stopped between its packets.
    void Stop();

  private:
    static constexpr std::chrono::milliseconds kWatchPeriod{100};
    void Watch();

    WaitableClock& m_clock;
    const UnitLinkMaker m_makeLink;
    const MonitorOptions m_options;
    std::vector<std::unique_ptr<UnitMonitor>> m_monitors;
    std::vector<groups::UnitEntry> m_entries;  // one per monitor
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_watch;
};

}  // namespace vantrel::gateway

#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/unit_monitor.h"

namespace vantrel::gateway {

/// The units the gateway was given, in their order, each with its monitor, and a watch that
/// tells of a unit gone silent while its link still waits on it and keeps the commands'
/// deadlines.
class Units {
  public:
    ~Units() { Stop(); }

    void Add(std::unique_ptr<UnitMonitor> monitor) { m_monitors.push_back(std::move(monitor)); }
    /// nullptr for a unit the gateway does not hold.
    UnitMonitor* Find(const std::string& name) const;
    std::vector<UnitSnapshot> Snapshots() const;
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

    std::vector<std::unique_ptr<UnitMonitor>> m_monitors;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_watch;
};

}  // namespace vantrel::gateway

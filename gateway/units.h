#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gateway/unit_monitor.h"

namespace vantrel::gateway {

/// The units the gateway was given, in their order, each with its monitor.
class Units {
  public:
    ~Units() { Stop(); }

    void Add(std::unique_ptr<UnitMonitor> monitor) { m_monitors.push_back(std::move(monitor)); }
    /// nullptr for a unit the gateway does not hold.
    UnitMonitor* Find(const std::string& name) const;
    std::vector<UnitSnapshot> Snapshots() const;
    void Start();
    void Stop();

  private:
    std::vector<std::unique_ptr<UnitMonitor>> m_monitors;
};

}  // namespace vantrel::gateway

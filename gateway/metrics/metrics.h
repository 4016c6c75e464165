#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gateway/metrics/command_counts.h"
#include "gateway/fleet/unit_drift.h"
#include "gateway/fleet/unit_snapshot.h"
#include "gateway/fleet/update_state.h"

namespace vantrel::gateway {

/// The units in the Prometheus text format (0.0.4). A unit that is not up has only its
/// vantrel_up, reconnect and poll period series: its values are left out, not repeated from its
/// last poll.
std::string MetricsText(const std::vector<UnitSnapshot>& units, Steady::time_point now);

/// vantrel_commands_total: each unit's commands by outcome. Every unit has every outcome, from
/// 0, so that a rate sees the first of each.
std::string CommandMetricsText(const std::vector<UnitSnapshot>& units,
                               const std::map<CommandCounts::Key, std::int64_t>& counts);

/// vantrel_firmware_jobs_total: the units' firmware updates by how they ended (done, failed,
/// not started), every outcome from 0.
std::string FirmwareJobMetricsText(const std::map<UpdateState, std::int64_t>& ended);

/// vantrel_unit_drift: how many settings of each unit held to a snapshot differ from it, as last
/// polled; a unit that is down, or that the snapshot holds nothing for, is left out.
std::string DriftMetricsText(const std::vector<UnitSnapshot>& units, const SnapshotBook& book);

/// vantrel_build_info and vantrel_gateway_start_time_seconds (Unix time): a restart shows as
/// a new start time.
std::string GatewayInfoText(const std::string& version,
                            std::chrono::system_clock::time_point start);

/// A gateway's part in a cluster of gateways: whether its lease is surely held, how many live
/// members it sees, and how many units it owns and sees owned by none.
struct ClusterFigures {
    bool leaseHeld = false;
    std::size_t members = 0;
    std::size_t unitsOwned = 0;
    std::size_t unitsUnowned = 0;
};

/// vantrel_gateway_lease_held, _members, _units_owned and _units_unowned.
std::string ClusterMetricsText(const ClusterFigures& figures);

/// vantrel_tls_certificate_expiry_seconds: the time left until the served certificate's
/// notAfter at `now`, negative once it has passed.
std::string CertificateMetricsText(std::chrono::system_clock::time_point notAfter,
                                   std::chrono::system_clock::time_point now);

}  // namespace vantrel::gateway

#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "gateway/unit_snapshot.h"

namespace vantrel::gateway {

/// The units in the Prometheus text format (0.0.4). A unit that is not up has only its
/// vantrel_up, reconnect and poll period series: its values are left out, not repeated from its
/// last poll.
std::string MetricsText(const std::vector<UnitSnapshot>& units, Steady::time_point now);

/// vantrel_tls_certificate_expiry_seconds: the time left until the served certificate's
/// notAfter at `now`, negative once it has passed.
std::string CertificateMetricsText(std::chrono::system_clock::time_point notAfter,
                                   std::chrono::system_clock::time_point now);

}  // namespace vantrel::gateway

#pragma once

#include <httplib.h>

#include <optional>
#include <string>

#include "gateway/event_hub.h"
#include "gateway/firmware_jobs.h"
#include "gateway/units.h"

namespace vantrel::gateway {

/// Every route of the gateway: the page, the JSON API, the event stream and the metrics. With a
/// token, the API and the metrics need it.
void AddRoutes(httplib::Server& server, Units& units, EventHub& hub, FirmwareJobs& jobs,
               const std::optional<std::string>& token);

/// The most a command's JSON body may hold; a firmware image may hold kMostImageBytes.
constexpr std::size_t kMostCommandBytes = 64 * 1024;
constexpr std::size_t kMostImageBytes = 8 * 1024 * 1024;

}  // namespace vantrel::gateway

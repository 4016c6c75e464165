#pragma once

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

namespace vantrel::gateway::cluster {

/// Whether the gateway `id` still runs what it started under `lease` (hex).
using RunningUnder = std::function<bool(const std::string& id, const std::string& lease)>;

/// A job (JOB, as JSON text) as its gateway publishes it under `PREFIX jobs/ID`: with the lease
/// (hex, or null while none is held) that gateway runs it under.
std::string PublishedJob(const std::string& job, const nlohmann::json& lease);

/// The jobs the gateways published, by id, as any gateway shows them: each without its lease,
/// and interrupted (InterruptedJob) when it had not finished and its gateway no longer runs
/// under that lease, its member key gone with it.
std::map<std::string, nlohmann::json> SharedJobs(std::map<std::string, nlohmann::json> published,
                                                 const RunningUnder& running);

}  // namespace vantrel::gateway::cluster

#include "gateway/cluster/shared_jobs.h"

#include "gateway/fleet/interrupted_job.h"

namespace vantrel::gateway::cluster {

std::string PublishedJob(const std::string& job, const nlohmann::json& lease) {
    nlohmann::json published = nlohmann::json::parse(job, nullptr, false);
    published["lease"] = lease;
    return published.dump();
}

std::map<std::string, nlohmann::json> SharedJobs(std::map<std::string, nlohmann::json> published,
                                                 const RunningUnder& running) {
    for (auto& [id, job] : published) {
        const nlohmann::json lease = job.value("lease", nlohmann::json());
        const nlohmann::json gateway = job.value("gateway", nlohmann::json());
        job.erase("lease");
        const bool live = lease.is_string() && gateway.is_string() &&
                          running(gateway.get<std::string>(), lease.get<std::string>());
        if (!live && job.value("finished", nlohmann::json()) != true) {
            job = InterruptedJob(std::move(job));
        }
    }
    return published;
}

}  // namespace vantrel::gateway::cluster

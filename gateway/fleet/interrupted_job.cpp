#include "gateway/fleet/interrupted_job.h"

#include <string>

#include "gateway/fleet/update_state.h"

namespace vantrel::gateway {
namespace {

struct NextStep {
    const char* needs;
    const char* why;
};

// What a unit whose update was cut off needs, by how far the update had gone.
NextStep StepAfter(UpdateState before, bool net) {
    if (before == UpdateState::kQueued) {
        return {"start-update",
                "its gateway went away before the update began: the unit keeps its old "
                "firmware; start the update again if it is still wanted"};
    }
    if (net) {
        return {"restart-update",
                "its gateway went away during the net controller's update: power-cycle the unit "
                "and start the update again"};
    }
    return {"restart-update",
            "its gateway went away during the update: the unit's loader may still be waiting "
            "for an image; start the update again"};
}

}  // namespace

nlohmann::json InterruptedJob(nlohmann::json job) {
    const bool net = job.value("controller", nlohmann::json()) == "net";
    for (nlohmann::json& unit : job["units"]) {
        if (!unit.is_object()) continue;
        const nlohmann::json name = unit.value("state", nlohmann::json());
        const std::optional<UpdateState> state =
            name.is_string() ? UpdateStateOf(name.get<std::string>()) : std::nullopt;
        // A state this gateway does not know is taken as the worst: cut mid-way.
        const UpdateState before = state.value_or(UpdateState::kRunning);
        if (state && HasEnded(*state)) continue;
        const NextStep step = StepAfter(before, net);
        unit["state"] = UpdateStateName(UpdateState::kInterrupted);
        unit["needs"] = step.needs;
        unit["error"] = step.why;
    }
    job["finished"] = false;
    job["interrupted"] = true;
    return job;
}

}  // namespace vantrel::gateway

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "clients/stages.h"
#include "firmware/image.h"
#include "gateway/net/event_hub.h"
#include "gateway/fleet/unit_command.h"
#include "gateway/fleet/units.h"
#include "gateway/fleet/update_state.h"

namespace vantrel::gateway {

/// What a request about firmware jobs came to; each edge says it in its own way.
struct JobOutcome {
    enum class State : std::uint8_t {
        kStarted,     // `job` holds the new job's id
        kFound,       // `job` holds the job as JOB
        kBadRequest,  // the request cannot start a job: `why` says what is wrong with it
        kNoSuchUnit,
        kNoSuchJob,
        kUnitBusy,    // a unit's last job has not finished
        kUnrecorded,  // the audit log cannot take its entry: nothing went on
    };
    State state = State::kFound;
    nlohmann::json job;
    std::string why;  // for a person, when it is not kStarted or kFound
};

/// Firmware updates, a job per request: each unit's update runs on that unit's link in its
/// command queue, and every change of a unit's progress or outcome is an event.
class FirmwareJobs {
  public:
    /// The wait for a net update's power cycle is measured on `clock`.
    FirmwareJobs(Units& units, EventHub& hub, WaitableClock& clock)
        : m_units(units), m_hub(hub), m_clock(clock) {}

    /// How a job goes through its units: the canary units first, at most so many failures.
    using Stages = clients::Stages;

    /// `units`: names separated by commas; `controller`: main or net. Started, or the reason
    /// nothing was. Each unit's update is recorded in the audit log as asked for by `record`'s
    /// holder: begun, before anything is sent (a unit whose entry cannot be written fails unsent),
    /// and ended.
    JobOutcome Start(const std::string& units, const std::string& controller,
                     const std::string& image, const Stages& stages, const CommandRecord& record);
    /// The job as JOB, or kNoSuchJob.
    JobOutcome Get(const std::string& id);
    /// Every job kept, as JOB, oldest first.
    std::vector<nlohmann::json> List();
    /// Each job as JOB when it changes, for the other gateways: "" once it is dropped.
    using Share = std::function<void(const std::string& id, const std::string& job)>;
    /// With other gateways, before the first job: each job's id begins with `idPrefix()`, which
    /// no other gateway's, nor this one's after a restart, begins with; its JSON names
    /// `gateway`; and every change of it is shared.
    void ShareJobs(std::string gateway, std::function<std::string()> idPrefix, Share share);
    /// The units of a net job have been power-cycled with the line held in break: their
    /// updates go on, each unfinished unit's recorded first as `record`'s holder's "continue".
    /// The job as JOB, kNoSuchJob, or kUnrecorded when the audit log cannot take it (nothing
    /// goes on then).
    JobOutcome Continue(const std::string& id, const CommandRecord& record);
    /// How many units' updates have ended, by their last state: done, failed, not started.
    std::map<UpdateState, std::int64_t> Ended();
    /// Ends every wait for a power cycle, so that the gateway can stop.
    void Close();

  private:
    struct UnitProgress {
        std::string unit;
        UpdateState state = UpdateState::kQueued;
        std::int64_t done = 0;
        std::int64_t total = 0;
        std::string error;
        bool begun = false;  // its begun entry is in the audit log
    };
    struct Job {
        std::string id;
        std::string controller;
        std::vector<UnitProgress> units;
        bool continued = false;  // Continue was asked for
        CommandRecord record;
        bool net = false;
        std::shared_ptr<const firmware::Image> image;
        std::vector<std::shared_ptr<UnitMonitor>> monitors;  // the units', in the job's order
        Stages stages;
        bool restBegun = false;  // past the canary units
    };
    using Change = std::function<void(UnitProgress&)>;
    static constexpr std::chrono::minutes kPowerCycleWait{10};

    /// Queues the update of the job's unit at `index` on its link.
    void Begin(const std::shared_ptr<Job>& job, std::size_t index);
    /// The canary units have all ended: the rest begin if all were done, or end not started.
    void AfterCanaries(const std::shared_ptr<Job>& job, bool allDone);
    /// Whether the job has had its most failures: no more of its units begin. Under m_mutex.
    static bool Halted(const Job& job);
    /// A net update after its break: waits for Continue; false when none came.
    bool AwaitPowerCycle(const std::shared_ptr<Job>& job);
    std::shared_ptr<Job> Find(const std::string& id);  // under m_mutex

    /// Applies a change to one unit of a job and publishes the job when it shows.
    void Update(const std::shared_ptr<Job>& job, std::size_t index, const Change& change);
    nlohmann::json JobJson(const Job& job) const;
    /// Tells the event streams, and the other gateways, of the job as it is now.
    void Publish(const Job& job);
    /// A unit's update has ended: who asked for it, and how it ended.
    static void Audit(const Job& job, const UnitProgress& progress);
    static bool Finished(const Job& job);
    /// Past kJobsKept, the oldest finished jobs go; one still running never does. Under m_mutex.
    void DropFinished();

    static constexpr std::size_t kJobsKept = 64;
    Units& m_units;
    EventHub& m_hub;
    WaitableClock& m_clock;
    std::mutex m_mutex;
    std::condition_variable m_continued;
    bool m_closed = false;
    std::map<std::int64_t, std::shared_ptr<Job>> m_jobs;
    std::map<std::string, std::string> m_updating;  // unit -> its unfinished job's id
    std::map<UpdateState, std::int64_t> m_ended;    // units' updates, by how they ended
    std::int64_t m_nextId = 1;
    std::string m_gateway;  // with other gateways
    std::function<std::string()> m_idPrefix;
    Share m_share;
};

}  // namespace vantrel::gateway

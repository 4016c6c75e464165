#include "gateway/fleet/firmware_jobs.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "clients/report.h"
#include "firmware/image.h"

namespace vantrel::gateway {
namespace {

std::vector<std::string> SplitNames(const std::string& list) {
    std::vector<std::string> names;
    std::stringstream in(list);
    for (std::string name; std::getline(in, name, ',');) {
        if (!name.empty()) names.push_back(name);
    }
    return names;
}

// Only whole percents are news: a progress event per packet would flood the streams.
bool Shows(std::int64_t before, std::int64_t after, std::int64_t total) {
    return total <= 0 || before * 100 / total != after * 100 / total;
}

}  // namespace

JobOutcome FirmwareJobs::Start(const std::string& unitList, const std::string& controller,
                               const std::string& image, const Stages& stages,
                               const CommandRecord& record) {
    using State = JobOutcome::State;
    if (controller != "main" && controller != "net") {
        return {State::kBadRequest, nullptr, "controller is main or net"};
    }
    const bool net = controller == "net";
    const std::vector<std::string> names = SplitNames(unitList);
    if (names.empty()) return {State::kBadRequest, nullptr, "no unit: give units=A,B,..."};
    std::vector<std::shared_ptr<UnitMonitor>> monitors;
    std::set<std::string> seen;
    for (const std::string& name : names) {
        std::shared_ptr<UnitMonitor> monitor = m_units.Find(name);
        if (!monitor) return {State::kNoSuchUnit, nullptr, "no such unit: " + name};
        if (!seen.insert(name).second) {
            return {State::kBadRequest, nullptr, "the unit " + name + " is named twice"};
        }
        if (net && !monitor->OnSerialPort()) {
            return {State::kBadRequest, nullptr,
                    "the net controller is updated over a serial port: " + name};
        }
        monitors.push_back(monitor);
    }
    // Built once, here, so that a body that is not an image, or one the flash cannot take,
    // reaches no unit.
    const firmware::Controller which =
        net ? firmware::Controller::kNet : firmware::Controller::kMain;
    Result<firmware::Image> built =
        firmware::BuildImage(std::vector<std::uint8_t>(image.begin(), image.end()), which);
    if (!built.Ok()) return {State::kBadRequest, nullptr, FaultName(built.GetFault())};
    if (const Outcome fits = firmware::CheckFitsFlash(built.Value(), which); !fits.Ok()) {
        return {State::kBadRequest, nullptr, FaultName(fits.GetFault())};
    }

    auto job = std::make_shared<Job>();
    job->controller = controller;
    job->record = record;
    job->net = net;
    job->image = std::make_shared<const firmware::Image>(std::move(built.Value()));
    job->monitors = monitors;
    job->stages = stages;
    for (const std::string& name : names) {
        UnitProgress progress;
        progress.unit = name;
        job->units.push_back(progress);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // One unfinished job a unit: a second would flash it again, or while it is flashed.
        for (const std::string& name : names) {
            if (auto busy = m_updating.find(name); busy != m_updating.end()) {
                return {State::kUnitBusy, nullptr,
                        "the unit " + name + " is being updated by job " + busy->second +
                            "; wait for it to finish"};
            }
        }
        job->id = (m_idPrefix ? m_idPrefix() : "") + std::to_string(m_nextId);
        job->record.action = "firmware";
        job->record.params = {{"controller", controller}, {"job", job->id}};
        for (const std::string& name : names) m_updating[name] = job->id;
        m_jobs[m_nextId++] = job;
        DropFinished();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Publish(*job);
    }
    const std::size_t first = stages.FirstStage(names.size());
    job->restBegun = first == names.size();
    for (std::size_t i = 0; i < first; ++i) Begin(job, i);
    return {State::kStarted, job->id, ""};
}

void FirmwareJobs::Begin(const std::shared_ptr<Job>& job, std::size_t i) {
    // The job holds the monitor; its commands, which the monitor holds, must not.
    UnitMonitor* monitor = job->monitors[i].get();
    auto fail = [this, job, i, monitor](CommandEnd end) {
        if (end == CommandEnd::kRan) return;
        const std::string why = end == CommandEnd::kStopping
                                    ? "the gateway stopped before the update began"
                                    : "the unit's link is down: " + monitor->Snapshot().reason;
        Update(job, i, [&](UnitProgress& p) {
            p.state = UpdateState::kFailed;
            p.error = why;
        });
    };
    QueuedCommand update{
        [=](UnitLink& link) {
            bool halted = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                halted = Halted(*job);
            }
            if (halted) {
                Update(job, i, [](UnitProgress& p) {
                    p.state = UpdateState::kNotStarted;
                    p.error = "the job had its most failures";
                });
                return false;
            }
            std::string unrecorded;
            if (!job->record.Begin(monitor->Name(), unrecorded)) {
                Update(job, i, [&](UnitProgress& p) {
                    p.state = UpdateState::kFailed;
                    p.error = unrecorded;
                });
                return false;
            }
            Update(job, i, [](UnitProgress& p) { p.begun = true; });
            // A net update runs only once the unit has been power-cycled.
            if (!job->net) Update(job, i, [](UnitProgress& p) { p.state = UpdateState::kRunning; });
            const firmware::ProgressSink progress = [=](const firmware::Progress& step) {
                monitor->NoteAnswer();
                if (step.phase == firmware::Phase::kEntering) return;
                Update(job, i, [&](UnitProgress& p) {
                    p.done = step.done;
                    p.total = step.total;
                });
            };
            Outcome outcome;
            if (!job->net) {
                outcome = link.UpdateMainFirmware(*job->image, progress);
            } else if (outcome = link.HoldBreak(); outcome.Ok()) {
                Update(job, i, [](UnitProgress& p) { p.state = UpdateState::kPowerCycle; });
                monitor->SetMaintenance(true);
                const bool cycled = AwaitPowerCycle(job);
                monitor->SetMaintenance(false);
                if (cycled) {
                    Update(job, i, [](UnitProgress& p) { p.state = UpdateState::kRunning; });
                    outcome = link.UpdateNetFirmware(*job->image, progress);
                } else {
                    outcome = Failure{Fault::kStopped};
                }
            }
            Update(job, i, [&](UnitProgress& p) {
                p.state = outcome.Ok() ? UpdateState::kDone : UpdateState::kFailed;
                if (!outcome.Ok()) p.error = clients::FaultNote(outcome.GetFailure());
            });
            return false;
        },
        fail, nullptr, true};
    const Queued queued = monitor->Submit(std::move(update));
    if (queued == Queued::kFull) {
        Update(job, i, [](UnitProgress& p) {
            p.state = UpdateState::kFailed;
            p.error = "the unit has too many commands waiting";
        });
    } else if (queued != Queued::kYes) {
        fail(queued == Queued::kStopping ? CommandEnd::kStopping : CommandEnd::kLinkDown);
    }
}

void FirmwareJobs::AfterCanaries(const std::shared_ptr<Job>& job, bool allDone) {
    for (std::size_t i = job->stages.FirstStage(job->units.size()); i < job->units.size(); ++i) {
        if (allDone) {
            Begin(job, i);
        } else {
            Update(job, i, [](UnitProgress& p) {
                p.state = UpdateState::kNotStarted;
                p.error = "a canary unit was not updated";
            });
        }
    }
}

bool FirmwareJobs::Halted(const Job& job) {
    const auto failures =
        std::count_if(job.units.begin(), job.units.end(),
                      [](const UnitProgress& p) { return p.state == UpdateState::kFailed; });
    return !job.stages.Begins(static_cast<std::size_t>(failures));
}

JobOutcome FirmwareJobs::Get(const std::string& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::shared_ptr<Job> job = Find(id);
    if (!job) return {JobOutcome::State::kNoSuchJob, nullptr, "no such job: " + id};
    return {JobOutcome::State::kFound, JobJson(*job), ""};
}

JobOutcome FirmwareJobs::Continue(const std::string& id, const CommandRecord& record) {
    std::shared_ptr<Job> job;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        job = Find(id);
        if (!job) return {JobOutcome::State::kNoSuchJob, nullptr, "no such job: " + id};
        // A net job's unfinished units go on from here: each is recorded first.
        CommandRecord continuing = record;
        continuing.action = "continue";
        continuing.params = job->record.params;
        for (const UnitProgress& progress : job->units) {
            std::string unrecorded;
            if (job->net && !HasEnded(progress.state) &&
                !continuing.Begin(progress.unit, unrecorded)) {
                return {JobOutcome::State::kUnrecorded, nullptr, unrecorded};
            }
        }
        job->continued = true;
    }
    m_continued.notify_all();
    return Get(id);
}

std::vector<nlohmann::json> FirmwareJobs::List() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<nlohmann::json> jobs;
    for (const auto& [number, job] : m_jobs) jobs.push_back(JobJson(*job));
    return jobs;
}

void FirmwareJobs::ShareJobs(std::string gateway, std::function<std::string()> idPrefix,
                             Share share) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_gateway = std::move(gateway);
    m_idPrefix = std::move(idPrefix);
    m_share = std::move(share);
}

void FirmwareJobs::Publish(const Job& job) {
    const std::string text = JobJson(job).dump();
    m_hub.Publish("job", text);
    if (m_share) m_share(job.id, text);
}

std::map<UpdateState, std::int64_t> FirmwareJobs::Ended() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ended;
}

void FirmwareJobs::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_continued.notify_all();
}

bool FirmwareJobs::AwaitPowerCycle(const std::shared_ptr<Job>& job) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_clock.WaitUntil(m_continued, lock, m_clock.Now() + kPowerCycleWait,
                      [&] { return job->continued || m_closed; });
    return job->continued && !m_closed;
}

std::shared_ptr<FirmwareJobs::Job> FirmwareJobs::Find(const std::string& id) {
    for (const auto& [number, job] : m_jobs) {
        if (job->id == id) return job;
    }
    return nullptr;
}

void FirmwareJobs::Update(const std::shared_ptr<Job>& job, std::size_t index,
                          const Change& change) {
    std::optional<bool> canariesDone;  // set once the last canary unit has ended
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        UnitProgress& progress = job->units[index];
        const UnitProgress before = progress;
        change(progress);
        if (HasEnded(progress.state) && !HasEnded(before.state)) {
            m_updating.erase(progress.unit);
            ++m_ended[progress.state];
            Audit(*job, progress);
            const auto canaries = job->units.begin() + job->stages.FirstStage(job->units.size());
            if (!job->restBegun && std::all_of(job->units.begin(), canaries,
                                               [](auto& p) { return HasEnded(p.state); })) {
                job->restBegun = true;
                const auto notDone = std::count_if(job->units.begin(), canaries, [](auto& p) {
                    return p.state != UpdateState::kDone;
                });
                canariesDone = Stages::RestBegins(static_cast<std::size_t>(notDone));
            }
        }
        // Published under the lock, so that the events of two units' threads go out in the
        // order their changes were made and no bar is seen to go back.
        if (before.state != progress.state || Shows(before.done, progress.done, progress.total)) {
            Publish(*job);
        }
    }
    if (canariesDone) AfterCanaries(job, *canariesDone);
}

void FirmwareJobs::Audit(const Job& job, const UnitProgress& progress) {
    job.record.Write(progress.unit, progress.begun,
                     {{"state", UpdateStateName(progress.state)},
                      {"done", progress.done},
                      {"total", progress.total},
                      {"error", progress.error}},
                     nullptr, nullptr);
}

bool FirmwareJobs::Finished(const Job& job) {
    return std::all_of(job.units.begin(), job.units.end(),
                       [](const UnitProgress& p) { return HasEnded(p.state); });
}

void FirmwareJobs::DropFinished() {
    for (auto entry = m_jobs.begin(); entry != m_jobs.end() && m_jobs.size() > kJobsKept;) {
        if (!Finished(*entry->second)) {
            ++entry;
            continue;
        }
        if (m_share) m_share(entry->second->id, "");
        entry = m_jobs.erase(entry);
    }
}

nlohmann::json FirmwareJobs::JobJson(const Job& job) const {
    nlohmann::json units = nlohmann::json::array();
    for (const UnitProgress& p : job.units) {
        units.push_back({{"unit", p.unit},
                         {"state", UpdateStateName(p.state)},
                         {"done", p.done},
                         {"total", p.total},
                         {"error", p.error}});
    }
    nlohmann::json json{
        {"job", job.id},
        {"controller", job.controller},
        {"canary", job.stages.canary},
        {"maxFailures", job.stages.maxFailures ? nlohmann::json(*job.stages.maxFailures)
                                               : nlohmann::json(nullptr)},
        {"finished", Finished(job)},
        {"interrupted", false},
        {"units", units}};
    if (!m_gateway.empty()) json["gateway"] = m_gateway;
    return json;
}

}  // namespace vantrel::gateway

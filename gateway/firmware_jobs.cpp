#include "gateway/firmware_jobs.h"

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

Reply FirmwareJobs::Start(const std::string& unitList, const std::string& controller,
                          const std::string& image) {
    if (controller != "main" && controller != "net") {
        return ErrorReply(400, "controller is main or net");
    }
    const bool net = controller == "net";
    const std::vector<std::string> names = SplitNames(unitList);
    if (names.empty()) return ErrorReply(400, "no unit: give units=A,B,...");
    std::vector<UnitMonitor*> monitors;
    std::set<std::string> seen;
    for (const std::string& name : names) {
        UnitMonitor* monitor = m_units.Find(name);
        if (!monitor) return ErrorReply(404, "no such unit: " + name);
        if (!seen.insert(name).second)
            return ErrorReply(400, "the unit " + name + " is named twice");
        if (net && !monitor->OnSerialPort()) {
            return ErrorReply(400, "the net controller is updated over a serial port: " + name);
        }
        monitors.push_back(monitor);
    }
    // Built once, here, so that a body that is not an image reaches no unit.
    Result<firmware::Image> built =
        firmware::BuildImage(std::vector<std::uint8_t>(image.begin(), image.end()),
                             net ? firmware::Controller::kNet : firmware::Controller::kMain);
    if (!built.Ok()) return ErrorReply(400, FaultName(built.GetFault()));
    auto shared = std::make_shared<const firmware::Image>(std::move(built.Value()));

    auto job = std::make_shared<Job>();
    job->controller = controller;
    for (const std::string& name : names) {
        UnitProgress progress;
        progress.unit = name;
        job->units.push_back(progress);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        job->id = std::to_string(m_nextId);
        m_jobs[m_nextId++] = job;
        if (m_jobs.size() > kJobsKept) m_jobs.erase(m_jobs.begin());
    }
    m_hub.Publish("job", JobJson(*job).dump());
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        UnitMonitor* monitor = monitors[i];
        auto fail = [this, job, i, monitor](bool ran) {
            if (ran) return;
            const std::string why = "the unit's link is down: " + monitor->Snapshot().reason;
            Update(job, i, [&](UnitProgress& p) {
                p.state = "failed";
                p.error = why;
            });
        };
        QueuedCommand update{
            [=](UnitLink& link) {
                Update(job, i, [](UnitProgress& p) { p.state = "running"; });
                const firmware::ProgressSink progress = [=](const firmware::Progress& step) {
                    monitor->NoteAnswer();
                    if (step.phase == firmware::Phase::kEntering) return;
                    Update(job, i, [&](UnitProgress& p) {
                        p.done = step.done;
                        p.total = step.total;
                    });
                };
                Outcome outcome;
                if (!net) {
                    outcome = link.UpdateMainFirmware(*shared, progress);
                } else if (outcome = link.HoldBreak(); outcome.Ok()) {
                    Update(job, i, [](UnitProgress& p) { p.state = "power-cycle"; });
                    if (AwaitPowerCycle(job)) {
                        Update(job, i, [](UnitProgress& p) { p.state = "running"; });
                        outcome = link.UpdateNetFirmware(*shared, progress);
                    } else {
                        outcome = Failure{Fault::kStopped};
                    }
                }
                Update(job, i, [&](UnitProgress& p) {
                    p.state = outcome.Ok() ? "done" : "failed";
                    if (!outcome.Ok()) p.error = cli::FaultNote(outcome.GetFailure());
                });
                return false;
            },
            fail};
        if (!monitor->Submit(std::move(update))) fail(false);
    }
    return {202, {{"job", job->id}}};
}

Reply FirmwareJobs::Get(const std::string& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::shared_ptr<Job> job = Find(id);
    return job ? Reply{200, JobJson(*job)} : ErrorReply(404, "no such job: " + id);
}

Reply FirmwareJobs::Continue(const std::string& id) {
    std::shared_ptr<Job> job;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        job = Find(id);
        if (!job) return ErrorReply(404, "no such job: " + id);
        job->continued = true;
    }
    m_continued.notify_all();
    return Get(id);
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
    m_continued.wait_for(lock, kPowerCycleWait, [&] { return job->continued || m_closed; });
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        UnitProgress& progress = job->units[index];
        const UnitProgress before = progress;
        change(progress);
        if (before.state == progress.state && !Shows(before.done, progress.done, progress.total)) {
            return;
        }
        // Published under the lock, so that the events of two units' threads go out in the
        // order their changes were made and no bar is seen to go back.
        m_hub.Publish("job", JobJson(*job).dump());
    }
}

nlohmann::json FirmwareJobs::JobJson(const Job& job) {
    nlohmann::json units = nlohmann::json::array();
    bool finished = true;
    for (const UnitProgress& p : job.units) {
        finished = finished && (p.state == "done" || p.state == "failed");
        units.push_back({{"unit", p.unit},
                         {"state", p.state},
                         {"done", p.done},
                         {"total", p.total},
                         {"error", p.error}});
    }
    return {
        {"job", job.id}, {"controller", job.controller}, {"finished", finished}, {"units", units}};
}

}  // namespace vantrel::gateway

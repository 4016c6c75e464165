#include "gateway/fleet/unit_monitor.h"

#include <algorithm>
#include <vector>

#include "gateway/fleet/answer_noting_link.h"

namespace vantrel::gateway {

UnitMonitor::UnitMonitor(std::string name, const LinkMaker& makeLink, const MonitorOptions& options,
                         Changed changed, WaitableClock& clock, UnitNaming naming)
    : m_name(std::move(name)),
      m_options(options),
      m_changed(std::move(changed)),
      m_clock(clock),
      m_link(makeLink(m_stop)),
      m_driven(options.driven) {
    m_state.unit = m_name;
    m_state.naming = std::move(naming);
    m_state.reason = "starting";
    m_state.since = std::chrono::system_clock::now();
    m_state.poll = m_options.poll;
}

UnitMonitor::~UnitMonitor() { Stop(); }

void UnitMonitor::Start() {
    m_ended = false;
    m_thread = std::thread([this] {
        Run();
        m_ended = true;
    });
}

void UnitMonitor::RequestStop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_stop = 1;
    m_wake.notify_all();
}

void UnitMonitor::Stop() {
    RequestStop();
    if (m_thread.joinable()) m_thread.join();
    DropQueued(CommandEnd::kStopping);
}

void UnitMonitor::BeginStop() {
    bool updating = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
        updating = m_running && m_running->update;
    }
    DropQueued(CommandEnd::kStopping);
    if (!updating) RequestStop();
    m_wake.notify_all();
}

bool UnitMonitor::Updating() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running && m_running->update;
}

bool UnitMonitor::Idle() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.empty() && !m_running;
}

UnitSnapshot UnitMonitor::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    UnitSnapshot snapshot = m_state;
    if (m_maintenanceSince) {
        snapshot.link = LinkState::Maintenance;
        snapshot.reason = "a net controller update waits for the unit's power cycle";
        snapshot.since = *m_maintenanceSince;
    } else if (Silent(snapshot)) {
        const auto limit = 2 * m_options.poll;
        snapshot.link = LinkState::Down;
        snapshot.reason = "no answer for two poll periods";
        snapshot.since = std::chrono::system_clock::now() -
                         std::chrono::duration_cast<std::chrono::system_clock::duration>(
                             m_clock.Now() - snapshot.lastAnswer - limit);
    }
    return snapshot;
}

bool UnitMonitor::Silent(const UnitSnapshot& state) const {
    return state.link == LinkState::Up && m_clock.Now() - state.lastAnswer > 2 * m_options.poll;
}

void UnitMonitor::CheckAnswered() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_silenceTold || !Silent(m_state)) return;
        m_silenceTold = true;
    }
    Notify();
}

void UnitMonitor::Answered() {
    m_state.lastAnswer = m_clock.Now();
    m_silenceTold = false;
}

Queued UnitMonitor::Submit(QueuedCommand command) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || m_closing) return Queued::kStopping;
        if (m_state.link != LinkState::Up || !m_driven) return Queued::kLinkDown;
        if (m_queue.size() >= m_options.mostQueued) return Queued::kFull;
        m_queue.push_back({std::move(command), m_clock.Now()});
    }
    m_wake.notify_all();
    return Queued::kYes;
}

void UnitMonitor::CheckDeadlines(Steady::duration period) {
    std::vector<QueuedCommand> expired;
    std::function<void()> overdue;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Steady::time_point now = m_clock.Now();
        for (auto waiting = m_queue.begin(); waiting != m_queue.end();) {
            if (!waiting->command.update && now - waiting->since >= m_options.startLimit) {
                expired.push_back(std::move(waiting->command));
                waiting = m_queue.erase(waiting);
            } else {
                ++waiting;
            }
        }
        // Told at the last watch before the limit, so that the client's answer is never late.
        if (m_running && !m_running->update &&
            now + period >= m_running->begun + m_options.answerLimit) {
            overdue.swap(m_running->overdue);
        }
    }
    for (QueuedCommand& command : expired) command.finished(CommandEnd::kExpired);
    if (overdue) overdue();
}

void UnitMonitor::NoteAnswer() {
    bool wasTold = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        wasTold = m_silenceTold;
        Answered();
    }
    // A unit told of as silent that answers after all is up again.
    if (wasTold) Notify();
}

void UnitMonitor::SetMaintenance(bool on) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (on == m_maintenanceSince.has_value()) return;
        m_maintenanceSince.reset();
        if (on) m_maintenanceSince = std::chrono::system_clock::now();
    }
    Notify();
}

void UnitMonitor::SetNaming(UnitNaming naming) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state.naming = std::move(naming);
    }
    Notify();
}

void UnitMonitor::Drive() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_driven = true;
    }
    m_wake.notify_all();
}

void UnitMonitor::Release() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_driven = false;
    }
    m_wake.notify_all();
}

void UnitMonitor::Drop() {
    Release();
    DropQueued(CommandEnd::kLinkDown);
    int32_t running = 0;
    m_stop.compare_exchange_strong(running, kParking);
}

bool UnitMonitor::Parked() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_parked;
}

bool UnitMonitor::AwaitDriven() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_driven && !m_stopping) {
        lock.unlock();
        DropQueued(CommandEnd::kLinkDown);
        SetLink(LinkState::Down, "not driven by this gateway");
        lock.lock();
        m_parked = true;
        m_wake.wait(lock, [&] { return m_stopping || m_driven; });
        m_parked = false;
    }
    int32_t parking = kParking;
    m_stop.compare_exchange_strong(parking, 0);
    return !m_stopping;
}

void UnitMonitor::Run() {
    std::chrono::milliseconds pause = m_options.firstPause;
    while (AwaitDriven()) {
        if (Connect()) {
            pause = m_options.firstPause;
            Serve();
        }
        m_link->Close();
        int32_t parking = kParking;
        m_stop.compare_exchange_strong(parking, 0);
        if (m_stop == 1 || Closing()) break;
        if (!Driven()) continue;
        SetLink(LinkState::Down, m_lossReason);
        DropQueued(CommandEnd::kLinkDown);
        if (!Pause(pause)) break;
        pause = std::min(pause * 2, m_options.longestPause);
        SetLink(LinkState::Connecting, m_lossReason);
    }
}

bool UnitMonitor::Connect() {
    if (Outcome open = m_link->Open(); !open.Ok()) {
        m_lossReason = "connect: " + clients::FaultNote(open.GetFailure());
        return false;
    }
    Result<UnitReading> reading = ReadUnit(*m_link);
    if (!reading.Ok()) {
        m_lossReason = "reading the unit: " + clients::FaultNote(reading.GetFailure());
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const WallTime now = std::chrono::system_clock::now();
        m_state.reading = reading.Value();
        m_state.statusTime = m_state.networkTime = m_state.versionsTime = now;
        Answered();
        if (m_everUp) ++m_state.reconnects;
        m_everUp = true;
    }
    SetLink(LinkState::Up, "");
    return true;
}

void UnitMonitor::Serve() {
    Steady::time_point nextPoll = m_clock.Now() + m_options.poll;
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_clock.WaitUntil(m_wake, lock, nextPoll,
                          [&] { return m_stopping || m_closing || !m_queue.empty() || !m_driven; });
        if (m_stopping || m_closing || (!m_driven && m_queue.empty())) return;
        if (!m_queue.empty()) {
            QueuedCommand command = std::move(m_queue.front().command);
            m_queue.pop_front();
            m_running = Running{command.update, m_clock.Now(), std::move(command.overdue)};
            lock.unlock();
            // The state is read again at once, so that the command's effect shows, unless the
            // command's own last exchange read it. The unit's answers to the command keep it up
            // meanwhile.
            AnswerNotingLink answering(*m_link, [this] { NoteAnswer(); });
            const bool changesNetwork = command.run(answering);
            const bool polled = Poll(changesNetwork, answering.StatusNow());
            {
                std::lock_guard<std::mutex> done(m_mutex);
                m_running.reset();
            }
            command.finished(CommandEnd::kRan);
            if (!polled) return;
            nextPoll = m_clock.Now() + m_options.poll;
            continue;
        }
        lock.unlock();
        if (!Poll(false)) return;
        nextPoll = std::max(nextPoll + m_options.poll, m_clock.Now());
    }
}

bool UnitMonitor::Poll(bool readNetwork, const std::optional<StatusBlock>& known) {
    Result<StatusBlock> status = known ? Result<StatusBlock>(*known) : m_link->ReadStatus();
    if (!status.Ok()) {
        m_lossReason = "status poll: " + clients::FaultNote(status.GetFailure());
        return false;
    }
    Result<NetworkSettings> network;
    if (readNetwork) {
        network = m_link->ReadNetwork();
        if (!network.Ok()) {
            m_lossReason = "network read: " + clients::FaultNote(network.GetFailure());
            return false;
        }
    }
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const WallTime now = std::chrono::system_clock::now();
        UnitReading& reading = *m_state.reading;
        // A unit told of as silent that answers after all is up again: that is a change too.
        changed = reading.status != status.Value() || m_silenceTold;
        reading.status = status.Value();
        m_state.statusTime = now;
        Answered();
        if (readNetwork) {
            changed = true;
            reading.network = network.Value();
            m_state.networkTime = now;
        }
    }
    if (changed) Notify();
    return true;
}

void UnitMonitor::SetLink(LinkState state, const std::string& reason) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state.link == state && m_state.reason == reason) return;
        m_state.link = state;
        m_state.reason = reason;
        m_state.since = std::chrono::system_clock::now();
    }
    Notify();
}

void UnitMonitor::Notify() {
    if (m_changed) m_changed(Snapshot());
}

void UnitMonitor::DropQueued(CommandEnd why) {
    std::deque<Waiting> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dropped.swap(m_queue);
    }
    for (Waiting& waiting : dropped) waiting.command.finished(why);
}

bool UnitMonitor::Closing() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closing;
}

bool UnitMonitor::Driven() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_driven;
}

bool UnitMonitor::Pause(std::chrono::milliseconds pause) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_clock.WaitUntil(m_wake, lock, m_clock.Now() + pause, [&] { return m_stopping || !m_driven; });
    return !m_stopping;
}

}  // namespace vantrel::gateway

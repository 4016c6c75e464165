#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "gateway/unit_snapshot.h"
#include "unit_link/unit_link.h"

namespace vantrel::gateway {

struct MonitorOptions {
    std::chrono::milliseconds poll{5000};
    std::chrono::milliseconds firstPause{1000};  // before the first reconnect after a loss
    std::chrono::milliseconds longestPause{30000};
};

/// A command queued for the unit's link. `run` gets the link between polls and returns whether
/// the unit's network settings may have changed. `finished` follows once the state has been
/// read again after it, so that what the command did shows by then; it is called with false
/// instead of `run` when the link goes down or the gateway stops before the command's turn.
struct QueuedCommand {
    std::function<bool(UnitLink&)> run;
    std::function<void(bool ran)> finished;
};

/// One unit's link, held by a thread of its own: it connects, reads the whole state, polls the
/// status every poll period and runs queued commands one at a time between polls. A lost link
/// is made again after a pause that doubles up to the longest. Every change of the unit's state
/// or link is handed to `changed`, on the monitor's thread.
class UnitMonitor {
  public:
    /// Makes the unit's link; its console waits end early once `stop` is set.
    using LinkMaker = std::function<std::unique_ptr<UnitLink>(const std::atomic<int32_t>& stop)>;
    using Changed = std::function<void(const UnitSnapshot&)>;

    UnitMonitor(std::string name, const LinkMaker& makeLink, const MonitorOptions& options,
                Changed changed);
    ~UnitMonitor();
    UnitMonitor(const UnitMonitor&) = delete;
    UnitMonitor& operator=(const UnitMonitor&) = delete;

    void Start();
    /// Tells the thread to end; it does within about 100 ms of a wait on the unit.
    void RequestStop();
    /// Ends the thread and answers the queued commands as not run; safe to call twice.
    void Stop();

    const std::string& Name() const { return m_name; }
    /// Whether the link is a serial port: only that link reads the controllers' versions, and
    /// only it reaches the net controller's bootloader.
    bool OnSerialPort() const { return m_link->ReadsVersions(); }
    /// As of now: a unit whose last answer is older than two poll periods is down.
    UnitSnapshot Snapshot() const;
    /// False, and nothing will run, when the link is not up.
    bool Submit(QueuedCommand command);
    /// Called now and then from another thread: once a unit has gone two poll periods without
    /// answering while its link still waits on it, hands that down snapshot to `changed`, once.
    void CheckAnswered();
    /// A long command (a firmware update) calls this as the unit answers, so that the unit
    /// stays up while no poll can run.
    void NoteAnswer();

  private:
    void Run();
    bool Connect();
    void Serve();
    bool Poll(bool readNetwork);
    void SetLink(LinkState state, const std::string& reason);
    void Notify();
    void RefuseQueued();
    bool Pause(std::chrono::milliseconds pause);   // false when told to stop
    void Answered();                               // under m_mutex
    bool Silent(const UnitSnapshot& state) const;  // by the two-period rule

    const std::string m_name;
    const MonitorOptions m_options;
    const Changed m_changed;
    std::atomic<int32_t> m_stop{0};
    std::unique_ptr<UnitLink> m_link;
    std::string m_lossReason;  // the monitor thread's own
    bool m_everUp = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::deque<QueuedCommand> m_queue;
    UnitSnapshot m_state;
    bool m_silenceTold = false;  // CheckAnswered has told of the current silence
    std::thread m_thread;        // last: it uses everything above
};

}  // namespace vantrel::gateway

#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "gateway/fleet/unit_snapshot.h"
#include "gateway/system/waitable_clock.h"
#include "unit_link/unit_link.h"

namespace vantrel::gateway {

struct MonitorOptions {
    std::chrono::milliseconds poll{5000};
    std::chrono::milliseconds firstPause{1000};  // before the first reconnect after a loss
    std::chrono::milliseconds longestPause{30000};
    /// A command not begun this long after it was queued is dropped; one that runs this long
    /// is answered, and its outcome told later. At most `mostQueued` wait.
    std::chrono::milliseconds startLimit{10000};
    std::chrono::milliseconds answerLimit{15000};
    std::size_t mostQueued = 16;
    /// Whether a monitor drives its unit from the start; not when gateways share the units, as
    /// another may hold it until this one has claimed it.
    bool driven = true;
};

/// How a queued command ended: it ran, or it was dropped before its turn because the link went
/// down, it waited past its start limit, or the gateway is stopping.
enum class CommandEnd : std::uint8_t { kRan, kLinkDown, kExpired, kStopping };

/// Whether a command was queued, and why not.
enum class Queued : std::uint8_t { kYes, kLinkDown, kFull, kStopping };

/// A command queued for the unit's link. `run` gets the link between polls and returns whether
/// the unit's network settings may have changed. `finished` follows once the state has been
/// read again after it, so that what the command did shows by then, or instead of `run` when
/// the command is dropped before its turn.
struct QueuedCommand {
    std::function<bool(UnitLink&)> run;
    std::function<void(CommandEnd)> finished;
    /// Called once, from the watch, when the command has run for about its answer limit: its
    /// client is answered then, and learns the outcome later.
    std::function<void()> overdue;
    /// A firmware update: it waits its turn without a limit, runs as long as it takes, and a
    /// stopping gateway lets it finish.
    bool update = false;
};

/// One unit's link, held by a thread of its own: it connects, reads the whole state, polls the
/// status every poll period and runs queued commands one at a time between polls. A lost link
/// is made again after a pause that doubles up to the longest. Every change of the unit's state
/// or link is handed to `changed`, on the monitor's thread. Its periods, pauses and limits are
/// measured and waited for on `clock`.
class UnitMonitor {
  public:
    /// Makes the unit's link; its console waits end early once `stop` is set.
    using LinkMaker = std::function<std::unique_ptr<UnitLink>(const std::atomic<int32_t>& stop)>;
    using Changed = std::function<void(const UnitSnapshot&)>;

    UnitMonitor(std::string name, const LinkMaker& makeLink, const MonitorOptions& options,
                Changed changed, WaitableClock& clock, UnitNaming naming = {});
    ~UnitMonitor();
    UnitMonitor(const UnitMonitor&) = delete;
    UnitMonitor& operator=(const UnitMonitor&) = delete;

    void Start();
    /// Tells the thread to end; it does within about 100 ms of a wait on the unit.
    void RequestStop();
    /// Ends the thread and drops the queued commands; safe to call twice.
    void Stop();
    /// Whether its thread has ended, or never began: Stop then waits for nothing.
    bool Ended() const { return m_ended; }

    const std::string& Name() const { return m_name; }
    /// Whether the link is a serial port: only that link reads the controllers' versions, and
    /// only it reaches the net controller's bootloader.
    bool OnSerialPort() const { return m_link->ReadsVersions(); }
    /// As of now: a unit whose last answer is older than two poll periods is down.
    UnitSnapshot Snapshot() const;
    /// Queues the command; nothing will run unless kYes.
    Queued Submit(QueuedCommand command);
    /// Drops commands that waited past the start limit, and tells a command that has run for
    /// about the answer limit that it is overdue. The watch calls it every `period`.
    void CheckDeadlines(Steady::duration period);
    /// The gateway is stopping: no more commands, the queued ones are dropped, and the thread
    /// ends now, or once a firmware update that is running has ended.
    void BeginStop();
    /// Whether a firmware update is running on the link now.
    bool Updating() const;
    /// Whether no command waits or runs: until then the snapshot may not be what the unit will
    /// hold. (A command's effect is read before it counts as ended.)
    bool Idle() const;
    /// Called now and then from another thread: once a unit has gone two poll periods without
    /// answering while its link still waits on it, hands that down snapshot to `changed`, once.
    void CheckAnswered();
    /// The unit answered during a command (each exchange, or a firmware update's progress), so
    /// that it stays up while no poll can run.
    void NoteAnswer();
    /// A net controller update waits for the unit's power cycle: while `on`, the unit shows in
    /// maintenance rather than down.
    void SetMaintenance(bool on);
    /// The unit's name and labels have changed: told as a change of it.
    void SetNaming(UnitNaming naming);

    /// Drives the unit (again): connects, polls and takes commands.
    void Drive();
    /// Lets the unit go once what is queued has run: no command is taken from now on, and the
    /// link is closed when the queue is empty.
    void Release();
    /// Lets the unit go now: the queued commands are dropped as on a lost link, the link's waits
    /// end, and it is closed.
    void Drop();
    /// Whether it is let go and its link closed: nothing more is sent until it is driven again.
    bool Parked() const;

  private:
    struct Waiting {
        QueuedCommand command;
        Steady::time_point since;
    };
    struct Running {
        bool update = false;
        Steady::time_point begun;
        std::function<void()> overdue;
    };

    void Run();
    /// Waits, with the link closed, while the unit is not driven; false when told to stop.
    bool AwaitDriven();
    bool Connect();
    void Serve();
    /// Reads the status, or takes `known`, one a command has just read, and the network
    /// settings when asked; false when the link is lost.
    bool Poll(bool readNetwork, const std::optional<StatusBlock>& known = std::nullopt);
    void SetLink(LinkState state, const std::string& reason);
    void Notify();
    void DropQueued(CommandEnd why);
    bool Closing() const;
    bool Driven() const;
    bool Pause(std::chrono::milliseconds pause);   // false when told to stop
    void Answered();                               // under m_mutex
    bool Silent(const UnitSnapshot& state) const;  // by the two-period rule

    const std::string m_name;
    const MonitorOptions m_options;
    const Changed m_changed;
    WaitableClock& m_clock;
    // 1: the thread ends; kParking: the link's waits end as the unit is dropped.
    static constexpr int32_t kParking = 2;
    std::atomic<int32_t> m_stop{0};
    std::unique_ptr<UnitLink> m_link;
    std::string m_lossReason;  // the monitor thread's own
    bool m_everUp = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_closing = false;  // BeginStop: the thread ends after what it runs now
    bool m_driven = true;
    bool m_parked = false;  // not driven, and the link closed
    std::deque<Waiting> m_queue;
    std::optional<Running> m_running;
    UnitSnapshot m_state;
    bool m_silenceTold = false;  // CheckAnswered has told of the current silence
    std::optional<WallTime> m_maintenanceSince;
    std::atomic<bool> m_ended{true};
    std::thread m_thread;  // last: it uses everything above
};

}  // namespace vantrel::gateway

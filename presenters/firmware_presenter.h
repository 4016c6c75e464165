#pragma once

#include <functional>
#include <string>

#include "presenters/firmware_record.h"
#include "presenters/firmware_view.h"
#include "presenters/update_threads.h"
#include "serial/serial_device.h"
#include "unit/clock.h"
#include "unit/outcome.h"

namespace vantrel {

// The firmware dialog's presenter: the bodies of its Burn threads and of Break. Each builds
// the group's image from its file, holds the dialog's port, runs the update procedure and
// turns its steps and outcome into the dialog's texts, bar, cursor and buttons. A failure
// carries the status text it showed.

constexpr const char* kPortOccupied = "COM port is occupied!";

/// Whether the dialog's port is held: by the dialog itself (Break holds it open) or, as the
/// system refuses its open, elsewhere. A port that does not open for another reason (it is
/// not there) is not held: its open fails later, as does one whose number names no COM port.
bool PortOccupied(SerialDevice& port, std::int32_t comPort, std::uint32_t baudRate);

/// The main controller over the COM port. Enables the main Burn when it ends, whatever the
/// outcome; "COM port is occupied!" in a box while Break or another update holds the port.
Outcome BurnMainSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock,
                       FirmwareView& view);

/// The main controller through the session's console stream, which the session does not use
/// meanwhile (the dialog pauses its poll). The stream stays open. Enables the main Burn when
/// it ends.
Outcome BurnMainEthernet(FirmwareRecord& record, Clock& clock, FirmwareView& view);

/// The net controller over the COM port once Break has held the line while the unit was
/// power-cycled: ends the break (closes the port Break left open) and updates. Enables Burn
/// or Break for the next step when it ends. Started after the dialog cleared `netStop`.
Outcome BurnNetSerial(FirmwareRecord& record, SerialDevice& port, Clock& clock, FirmwareView& view);

/// The Break button, on the dialog's thread: opens the port at 19200 baud and holds its line
/// in break, so that the net controller starts its bootloader when the unit is power-cycled;
/// the port stays open until the net update starts. Pressed again, it releases the port it
/// holds and opens it anew. "COM port is occupied!" when the port does not open or an update
/// is using it. Done when the line is held.
Outcome Break(FirmwareRecord& record, SerialDevice& port, FirmwareView& view);

/// The firmware dialog's presenter: owns the dialog's record (its copies, stop flags, files
/// and port lock) and its update threads, and starts each Burn on a thread of its own. The
/// dialog keeps the window, its port and the view, and outlives the presenter's threads.
class FirmwarePresenter {
  public:
    /// Runs a procedure on its thread: the dialog raises the timer resolution around it and
    /// tells its window when it has ended.
    using Runner = std::function<void(const std::function<void()>& procedure)>;

    FirmwarePresenter(SerialDevice& port, FirmwareView& view, Clock& clock, Runner runner);
    FirmwarePresenter(const FirmwarePresenter&) = delete;
    FirmwarePresenter& operator=(const FirmwarePresenter&) = delete;

    FirmwareRecord& Record() { return m_record; }
    /// As the dialog opens: the net group's Stop has nothing to stop until its Burn.
    void Open();
    /// The main group's update of `file`, through the console on the network link, else over
    /// the COM port. False when no thread could be started: nothing ran.
    bool BurnMain(const std::string& file);
    /// The net group's update of `file` over the COM port, after Break and the power cycle.
    bool BurnNet(const std::string& file);
    void StopMain() { m_record.mainStop = 1; }
    void StopNet() { m_record.netStop = 1; }
    /// The Break button, on the dialog's thread.
    Outcome HoldBreak() { return Break(m_record, m_port, m_view); }
    /// Waits until every update started has returned.
    void Join() { m_threads.Join(); }

  private:
    bool Start(std::function<void()> procedure);

    FirmwareRecord m_record;
    SerialDevice& m_port;
    FirmwareView& m_view;
    Clock& m_clock;
    const Runner m_runner;
    UpdateThreads m_threads;  // declared last: joined before the rest goes
};

}  // namespace vantrel

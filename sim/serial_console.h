#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "sim/serial_protocol.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace vantrel::sim {

/// The unit's serial port, played on a pty: the panel opens the pty's other side as its COM
/// port. Every frame received is logged as link "serial" and answered through a
/// SerialProtocol from the same unit state as the TCP console.
class SerialConsole {
  public:
    SerialConsole(Unit& unit, TrafficLog& log, const SerialFaults& faults);
    ~SerialConsole();
    SerialConsole(const SerialConsole&) = delete;
    SerialConsole& operator=(const SerialConsole&) = delete;

    /// Opens the pty and serves it on a thread of its own. False, with the reason in Error(),
    /// when no pty can be had.
    bool Start();
    /// Stops serving and closes the pty. Safe to call twice.
    void Stop();

    /// The path the panel opens, such as /dev/pts/3.
    const std::string& DevicePath() const { return m_devicePath; }
    const std::string& Error() const { return m_error; }

    /// A frame whose rest does not follow within this time is dropped (and logged).
    static constexpr int kFrameGapMs = 200;

  private:
    void Serve();
    /// 1 when the pty has bytes, 0 when the time-out passed, -1 when told to stop.
    int WaitReadable(int timeoutMs);
    void Received(const std::string& frame, std::chrono::steady_clock::time_point start);

    TrafficLog& m_log;
    SerialProtocol m_protocol;
    int m_master = -1;
    int m_slave = -1;  // held open so the pty outlives each open and close by the panel
    int m_wake[2] = {-1, -1};
    std::string m_devicePath;
    std::string m_error;
    std::thread m_thread;
};

}  // namespace vantrel::sim

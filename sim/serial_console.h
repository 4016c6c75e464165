#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/main_bootloader.h"
#include "sim/net_bootloader.h"
#include "sim/serial_protocol.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace vantrel::sim {

/// The unit's serial port, played on a pty: the panel opens the pty's other side as its COM
/// port. Every frame received is logged as link "serial" and answered through a
/// SerialProtocol from the same unit state as the TCP console. After the frame 04 53 57 FE the
/// line carries the main controller's bootloader; after a power cycle with the line at 19200
/// baud, the net controller's. Bootloader bytes are logged as link "loader".
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

    /// Replies wait until the bytes they answer, and then their own bytes, would have crossed
    /// a line at the pty's baud rate, as on a real serial line. Set before Start.
    void SetPacing(bool paced) { m_paced = paced; }

    /// The unit is switched off and on: the main controller leaves its bootloader, and the
    /// net controller starts its own when the line is at 19200 baud (held in break, which a
    /// pty cannot show).
    void PowerCycle();

    /// The path the panel opens, such as /dev/pts/3.
    const std::string& DevicePath() const { return m_devicePath; }
    const std::string& Error() const { return m_error; }

    /// A frame whose rest does not follow within this time is dropped (and logged).
    static constexpr int kFrameGapMs = 200;
    /// The net controller's bootloader listens at this rate only.
    static constexpr unsigned kNetLoaderBaud = 19200;

  private:
    using TimePoint = std::chrono::steady_clock::time_point;

    void Serve();
    /// 1 when the pty has bytes, 0 when the time-out passed, -1 when told to stop.
    int WaitReadable(int timeoutMs);
    void Received(const std::string& frame, TimePoint start);
    bool InLoader();
    void ToLoader(const std::string& bytes, TimePoint start);
    void Send(const std::string& reply);
    unsigned BaudRate() const;
    std::chrono::microseconds WireTime(size_t bytes) const;

    Unit& m_unit;
    TrafficLog& m_log;
    const SerialFaults m_faults;
    SerialProtocol m_protocol;
    bool m_paced = false;
    TimePoint m_lineFree{};    // when the last byte received or sent has crossed the line
    std::mutex m_loaderMutex;  // the bootloaders, between Serve and PowerCycle
    std::unique_ptr<MainBootloader> m_mainLoader;
    std::unique_ptr<NetBootloader> m_netLoader;
    int m_master = -1;
    int m_slave = -1;  // held open so the pty outlives each open and close by the panel
    int m_wake[2] = {-1, -1};
    std::string m_devicePath;
    std::string m_error;
    std::thread m_thread;
};

}  // namespace vantrel::sim

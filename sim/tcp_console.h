#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "sim/faults.h"
#include "sim/line_log.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace vantrel::sim {

/// The unit's TCP text console: listens on one address and port, serves one connection at a
/// time through a ConsoleProtocol, and logs every received line as link "tcp".
class TcpConsole {
  public:
    TcpConsole(Unit& unit, TrafficLog& log, const Faults& faults);
    ~TcpConsole();
    TcpConsole(const TcpConsole&) = delete;
    TcpConsole& operator=(const TcpConsole&) = delete;

    /// Binds and listens (port 0: any free port), then serves on a thread of its own.
    /// False, with the reason in Error(), when it cannot listen.
    bool Start(const std::string& address, uint16_t port);
    /// Also writes each command line to `log`, with the address and port it came from. Before
    /// Start.
    void SetLineLog(LineLog& log) { m_lineLog = &log; }
    /// Ends the connection being served and stops listening. Safe to call twice.
    void Stop();

    uint16_t Port() const { return m_port; }
    const std::string& Error() const { return m_error; }

  private:
    void Serve();
    void Converse(int fd, const std::string& peer);
    /// The console's "OK" to FWUPDATE and to the entry frame, as the loader faults shape it.
    bool SendOk(int fd);
    bool WaitReadable(int fd, int timeoutMs);  // false when told to stop or on error
    bool SendAll(int fd, const std::string& bytes);

    Unit& m_unit;
    TrafficLog& m_log;
    LineLog* m_lineLog = nullptr;
    const Faults m_faults;
    int m_listenFd = -1;
    int m_wake[2] = {-1, -1};  // a byte written here stops the console
    uint16_t m_port = 0;
    std::string m_error;
    std::thread m_thread;
};

}  // namespace vantrel::sim

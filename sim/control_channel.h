#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "sim/unit.h"

namespace vantrel::sim {

/// The simulated unit's control interface: a Unix-domain stream socket on which a test (or a
/// person, with socat) changes the unit as if on its front panel and reads its state. One
/// command a line, one reply line each:
///   state                     the unit's state as one JSON object
///   set NAME=VALUE ...        solo-left, solo-right, mix-down, meter, input (bytes as the
///                             status block carries them), volume, brightness, contrast,
///                             saturation, ip, mask, gateway (dotted), dhcp (0 or 1),
///                             main-version, net-version (MAJOR.MINOR: 1.10 is 01 0A)
///   press BUTTON              a front-panel button: solo-left, mute, sdi-input, ...
/// Replies are "ok", a JSON object, or "error: " and the reason.
class ControlChannel {
  public:
    /// A further command: gets the text after its name, returns the reply line.
    using Command = std::function<std::string(const std::string& arguments)>;

    explicit ControlChannel(Unit& unit);
    ~ControlChannel();
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    /// Adds a command beside the built-in ones, before Start.
    void AddCommand(const std::string& name, Command command);
    /// Carries out one command line (without its line end) and returns the reply.
    std::string Execute(const std::string& line);

    /// Listens on path (an old socket file there is replaced) and serves on a thread of its
    /// own. False, with the reason in Error(), when it cannot.
    bool Start(const std::string& path);
    /// Stops serving and removes the socket file. Safe to call twice.
    void Stop();
    const std::string& Error() const { return m_error; }

  private:
    void Serve();
    void Converse(int fd);
    bool WaitReadable(int fd);  // false when told to stop
    std::string Set(const std::string& arguments);
    bool SetOne(const std::string& name, const std::string& value);
    std::string Press(const std::string& name);

    Unit& m_unit;
    std::map<std::string, Command> m_commands;
    std::mutex m_executeMutex;
    std::string m_path;
    int m_listenFd = -1;
    int m_wake[2] = {-1, -1};
    std::string m_error;
    std::thread m_thread;
};

/// The unit's state as one JSON object: lamps, meter mode, input, levels, network settings,
/// MAC and firmware versions.
std::string StateJson(const UnitState& state);

}  // namespace vantrel::sim

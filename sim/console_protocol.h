#pragma once

#include <string>

#include "sim/faults.h"
#include "sim/unit.h"

namespace vantrel::sim {

/// The unit's text console as a conversation of lines, apart from the socket that carries it:
/// the greeting, the login ("admin", then the password "846") and every command the panel
/// sends, answered from the unit's state, with the configured faults applied to the answers.
class ConsoleProtocol {
  public:
    struct Reply {
        std::string bytes;    // what to send back; empty: nothing
        bool close = false;   // close the connection after sending it
        int delayMs = 0;      // wait this long before sending it
        bool loader = false;  // the bootloader's entry frame follows, then its packets
    };

    ConsoleProtocol(Unit& unit, const Faults& faults);

    std::string Greeting() const;
    /// One received line, with its line end (CR LF or LF).
    Reply OnLine(const std::string& line);
    bool LoggedIn() const { return m_stage == Stage::kCommands; }

  private:
    enum class Stage { kUser, kPassword, kCommands };

    std::string Answer(const std::string& command);
    std::string ApplyFaults(std::string reply) const;

    Unit& m_unit;
    const Faults m_faults;
    Stage m_stage = Stage::kUser;
    bool m_userAccepted = false;
    int m_commandCount = 0;
};

}  // namespace vantrel::sim

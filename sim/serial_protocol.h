#pragma once

#include <string>

#include "sim/loader_faults.h"
#include "sim/unit.h"

namespace vantrel::sim {

/// Ways the unit's serial side can misbehave.
struct SerialFaults {
    bool silent = false;                // hears and obeys every frame, answers none
    bool wrongHeader = false;           // replies start AA CD instead of AA CC
    bool shortReplies = false;          // every reply loses its last byte
    bool ignoresNetworkWrites = false;  // the address and mode writes are heard and ignored
    LoaderFaults loader;                // both bootloaders on the pty
};

/// Adds one --serial-fault value ("silent", "wrong-header", "short", "ignores-network-writes",
/// "loader-nak=N", "loader-silent=N") to faults; false when it is not one of them.
bool ParseSerialFault(const std::string& text, SerialFaults& faults);

/// The unit's side of the serial control frames of both controllers, apart from the line that
/// carries them: each complete frame is obeyed on the shared unit state and answered.
class SerialProtocol {
  public:
    SerialProtocol(Unit& unit, const SerialFaults& faults);

    /// How many bytes a frame that starts with `first` has; 0 when no frame starts so.
    static size_t FrameLength(unsigned char first);

    /// One whole frame; the reply to send back (empty: none).
    std::string OnFrame(const std::string& frame);

  private:
    std::string MainController(unsigned char command, const std::string& frame);
    std::string NetController(unsigned char command, const std::string& frame);
    std::string ApplyFaults(std::string reply) const;

    Unit& m_unit;
    const SerialFaults m_faults;
};

}  // namespace vantrel::sim

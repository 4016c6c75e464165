#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/loader_faults.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace vantrel::sim {

/// The net controller's bootloader, apart from the pty that carries it. It echoes each start
/// byte, takes the escaped frame that follows up to its end byte, and checks it (escapes,
/// CRC, command, size, page and block alignment, writes only onto erased flash) before it
/// obeys it on its own copy of the flash, which then becomes the unit's net flash. A frame is
/// answered with 4 (erase) or 5 (write) bytes; one that fails a check gets one byte, and what
/// failed is logged as link "loader-error".
class NetBootloader {
  public:
    NetBootloader(Unit& unit, TrafficLog& log, const LoaderFaults& faults);

    /// Bytes as they arrive, in any pieces; the bytes to send back.
    std::string OnBytes(const std::string& bytes);

  private:
    std::string OnFrame(const std::string& escaped);
    std::string Erase(uint32_t address, unsigned count);
    std::string Write(uint32_t address, unsigned blocks, const std::string& frame);
    std::string Refuse(const std::string& why);

    Unit& m_unit;
    TrafficLog& m_log;
    const LoaderFaults m_faults;
    std::vector<uint8_t> m_flash;
    bool m_started = false;  // a start byte came: a frame may follow
    std::string m_frame;     // escaped bytes of the frame so far
    int m_frames = 0;
};

}  // namespace vantrel::sim

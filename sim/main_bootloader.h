#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/loader_faults.h"
#include "sim/traffic_log.h"
#include "sim/unit.h"

namespace vantrel::sim {

/// The main controller's bootloader, apart from the line that carries it (the pty after the
/// entry frame, or the console after FWUPDATE). It checks every packet (size, checksum,
/// command, order, chunk sizes, the acknowledgement of each status packet), answers 00 CC or,
/// to a packet that fails a check, 00 33, and logs what failed as link "loader-error". Once
/// Finish closes a whole image, the image becomes the unit's main flash.
class MainBootloader {
  public:
    MainBootloader(Unit& unit, TrafficLog& log, const LoaderFaults& faults);

    /// Bytes as they arrive, in any pieces; the bytes to send back.
    std::string OnBytes(const std::string& bytes);
    /// Finish closed a whole image: the controller leaves its bootloader.
    bool Done() const { return m_stage == Stage::kDone; }
    /// How many packets have come in.
    int Packets() const { return m_packets; }

    static constexpr uint32_t kLoadAddress = 0x2800;
    static constexpr size_t kLargestChunk = 76;

  private:
    enum class Stage { kIdle, kPinged, kLoading, kStatusSent, kStatusAcked, kDone };

    std::string OnPacket(const std::string& packet);
    std::string Obey(unsigned char command, const std::string& packet);
    std::string Refuse(const std::string& why);

    Unit& m_unit;
    TrafficLog& m_log;
    const LoaderFaults m_faults;
    std::string m_pending;
    int m_packets = 0;
    Stage m_stage = Stage::kIdle;
    uint32_t m_length = 0;
    std::vector<uint8_t> m_image;
};

}  // namespace vantrel::sim

#include "sim/main_bootloader.h"

#include <algorithm>
#include <chrono>

namespace vantrel::sim {
namespace {

const std::string kAck("\x00\xCC", 2);
const std::string kNak("\x00\x33", 2);
const std::string kStatusReady("\x03\x40\x40", 3);
constexpr unsigned char kStatusAck = 0xCC;

uint32_t BigEndian(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

}  // namespace

MainBootloader::MainBootloader(Unit& unit, TrafficLog& log, const LoaderFaults& faults)
    : m_unit(unit), m_log(log), m_faults(faults) {}

std::string MainBootloader::OnBytes(const std::string& bytes) {
    m_pending += bytes;
    std::string reply;
    for (;;) {
        if (m_pending.empty()) break;
        // The panel's acknowledgement of a status packet is one bare byte.
        if (m_stage == Stage::kStatusSent) {
            const bool acked = static_cast<unsigned char>(m_pending[0]) == kStatusAck;
            m_pending.erase(0, 1);
            if (acked) {
                m_stage = Stage::kStatusAcked;
            } else {
                reply += Refuse("status packet not acknowledged");
            }
            continue;
        }
        const auto size = static_cast<unsigned char>(m_pending[0]);
        if (size < 3) {
            m_pending.erase(0, 1);
            reply += Refuse("packet size below 3");
            continue;
        }
        if (m_pending.size() < size) break;
        const std::string packet = m_pending.substr(0, size);
        m_pending.erase(0, size);
        reply += OnPacket(packet);
    }
    return reply;
}

std::string MainBootloader::OnPacket(const std::string& packet) {
    ++m_packets;
    if (m_faults.silentFrom > 0 && m_packets >= m_faults.silentFrom) return "";
    unsigned char sum = 0;
    for (size_t i = 2; i < packet.size(); ++i) sum += static_cast<unsigned char>(packet[i]);
    if (sum != static_cast<unsigned char>(packet[1])) return Refuse("wrong checksum");
    if (m_packets == m_faults.nakAt) return kNak;
    return Obey(static_cast<unsigned char>(packet[2]), packet);
}

std::string MainBootloader::Obey(unsigned char command, const std::string& packet) {
    const size_t size = packet.size();
    switch (command) {
        case 0x20:  // Ping
            if (size != 3) return Refuse("Ping of the wrong size");
            m_stage = Stage::kPinged;
            return kAck;
        case 0x21:  // Download
            if (size != 11 || m_stage != Stage::kPinged) return Refuse("Download out of order");
            if (BigEndian(packet, 3) != kLoadAddress) return Refuse("Download to a wrong address");
            m_length = BigEndian(packet, 7);
            if (m_length == 0) return Refuse("Download of nothing");
            m_image.clear();
            m_stage = Stage::kLoading;
            return kAck;
        case 0x23:  // GetStatus
            if (size != 3 || m_stage != Stage::kLoading) return Refuse("GetStatus out of order");
            m_stage = Stage::kStatusSent;
            return kAck + kStatusReady;
        case 0x24: {  // SendData
            if (m_stage != Stage::kStatusAcked) return Refuse("SendData without a status check");
            const size_t expected = std::min<size_t>(kLargestChunk, m_length - m_image.size());
            if (expected == 0 || size - 3 != expected) return Refuse("SendData of a wrong size");
            m_image.insert(m_image.end(), packet.begin() + 3, packet.end());
            m_stage = Stage::kLoading;
            return kAck;
        }
        case 0x25:  // Finish
            if (size != 3 || m_stage != Stage::kStatusAcked || m_image.size() != m_length) {
                return Refuse("Finish before the whole image");
            }
            m_unit.SetMainFlash(m_image);
            m_stage = Stage::kDone;
            return kAck;
        default:
            return Refuse("unknown command");
    }
}

std::string MainBootloader::Refuse(const std::string& why) {
    m_log.Append("loader-error", "main: " + why, std::chrono::steady_clock::now());
    return kNak;
}

}  // namespace vantrel::sim

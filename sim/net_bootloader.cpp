#include "sim/net_bootloader.h"

#include <algorithm>
#include <chrono>

namespace vantrel::sim {
namespace {

constexpr unsigned char kStart = 0x0F;
constexpr unsigned char kEnd = 0x04;
constexpr unsigned char kEscape = 0x05;
constexpr uint32_t kPage = 1024;
constexpr uint32_t kBlock = 64;
constexpr unsigned kMaxPages = 4;
constexpr unsigned kMaxBlocks = 57;

uint16_t Crc16(const std::string& bytes, size_t count) {
    uint16_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc ^= static_cast<uint16_t>(static_cast<unsigned char>(bytes[i]) << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

bool Escaped(unsigned char byte) { return byte == kStart || byte == kEnd || byte == kEscape; }

}  // namespace

NetBootloader::NetBootloader(Unit& unit, TrafficLog& log, const LoaderFaults& faults)
    : m_unit(unit), m_log(log), m_faults(faults), m_flash(unit.NetFlash()) {}

std::string NetBootloader::OnBytes(const std::string& bytes) {
    std::string reply;
    const bool silent = m_faults.silentFrom > 0 && m_frames + 1 >= m_faults.silentFrom;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (m_frame.empty() && byte == kStart) {
            m_started = true;
            if (!silent) reply += static_cast<char>(kStart);
            continue;
        }
        if (!m_started) {
            m_log.Append("loader-error", "net: a byte before the start byte",
                         std::chrono::steady_clock::now());
            continue;
        }
        m_frame += c;
        if (byte != kEnd) continue;
        // An end byte closes the frame unless it is escaped: an odd run of escapes before it.
        const size_t n = m_frame.size();
        size_t run = 0;
        while (run + 1 < n && static_cast<unsigned char>(m_frame[n - 2 - run]) == kEscape) ++run;
        if (run % 2 == 1) continue;
        const std::string frame = m_frame;
        m_frame.clear();
        m_started = false;
        reply += OnFrame(frame);
    }
    return reply;
}

std::string NetBootloader::OnFrame(const std::string& escaped) {
    ++m_frames;
    std::string frame;
    for (size_t i = 0; i + 1 < escaped.size(); ++i) {  // the last byte is the end byte
        auto byte = static_cast<unsigned char>(escaped[i]);
        if (byte == kEscape) {
            if (i + 2 >= escaped.size()) return Refuse("escape before the end byte");
            byte = static_cast<unsigned char>(escaped[++i]);
            if (!Escaped(byte)) return Refuse("escape before an ordinary byte");
        } else if (Escaped(byte)) {
            return Refuse("unescaped special byte");
        }
        frame += static_cast<char>(byte);
    }
    if (m_faults.silentFrom > 0 && m_frames >= m_faults.silentFrom) return "";
    if (frame.size() < 8) return Refuse("frame too short");
    const size_t body = frame.size() - 2;
    const uint16_t crc = static_cast<uint16_t>(static_cast<unsigned char>(frame[body]) |
                                               static_cast<unsigned char>(frame[body + 1]) << 8);
    if (Crc16(frame, body) != crc) return Refuse("wrong CRC");
    if (m_frames == m_faults.nakAt) return "\x15";
    uint32_t address = 0;
    for (int i = 4; i >= 1; --i) address = address << 8 | static_cast<unsigned char>(frame[i]);
    const auto count = static_cast<unsigned char>(frame[5]);
    switch (static_cast<unsigned char>(frame[0])) {
        case 0x03:
            if (body != 6) return Refuse("erase frame of a wrong size");
            return Erase(address, count);
        case 0x04:
            if (body != 6 + size_t{count} * kBlock) return Refuse("write frame of a wrong size");
            return Write(address, count, frame);
        default:
            return Refuse("unknown command");
    }
}

std::string NetBootloader::Erase(uint32_t address, unsigned count) {
    if (address % kPage != 0 || count == 0 || count > kMaxPages ||
        address + kPage > m_flash.size()) {
        return Refuse("erase of a wrong page or count");
    }
    // From the page at the address downward; pages below 0 do not exist.
    for (unsigned i = 0; i < count && address >= i * kPage; ++i) {
        const uint32_t page = address - i * kPage;
        std::fill(m_flash.begin() + page, m_flash.begin() + page + kPage, 0xFF);
    }
    m_unit.SetNetFlash(m_flash);
    return std::string(4, '\x06');
}

std::string NetBootloader::Write(uint32_t address, unsigned blocks, const std::string& frame) {
    const size_t length = size_t{blocks} * kBlock;
    if (address % kBlock != 0 || blocks > kMaxBlocks || address + length > m_flash.size()) {
        return Refuse("write of a wrong block or count");
    }
    for (size_t i = 0; i < length; ++i) {
        if (m_flash[address + i] != 0xFF) return Refuse("write onto flash not erased");
    }
    for (size_t i = 0; i < length; ++i) m_flash[address + i] = static_cast<uint8_t>(frame[6 + i]);
    m_unit.SetNetFlash(m_flash);
    return std::string(5, '\x06');
}

std::string NetBootloader::Refuse(const std::string& why) {
    m_log.Append("loader-error", "net: " + why, std::chrono::steady_clock::now());
    return "\x15";
}

}  // namespace vantrel::sim

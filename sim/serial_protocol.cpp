#include "sim/serial_protocol.h"

#include <cstdint>

namespace vantrel::sim {

namespace {

// Replies that carry data start with these two bytes.
const std::string kHeader("\xAA\xCC", 2);

struct ButtonFrame {
    unsigned char command;
    Button button;
};

const ButtonFrame kButtonFrames[] = {
    {0x01, Button::SoloLeft},      {0x02, Button::SoloRight},
    {0x03, Button::Pre2ch},        {0x04, Button::Next2ch},
    {0x05, Button::Pre8ch},        {0x06, Button::Next8ch},
    {0x08, Button::MixDown},       {0x0B, Button::Mute},
    {0x13, Button::VuMode},        {0x14, Button::DppmMode},
    {0x25, Button::HdmiInput},     {0x26, Button::SdiInput},
    {0x27, Button::BalancedInput}, {0x28, Button::UnbalancedInput},
};

// Each LCD level is set with one code and read with the next.
struct LevelFrame {
    unsigned char setCommand;
    Level level;
};

const LevelFrame kLevelFrames[] = {
    {0x16, Level::Brightness},
    {0x18, Level::Contrast},
    {0x20, Level::Saturation},
};

std::string LevelReply(int level) { return kHeader + static_cast<char>(level); }

std::string Octets(uint32_t address) {
    return {static_cast<char>(address >> 24), static_cast<char>(address >> 16),
            static_cast<char>(address >> 8), static_cast<char>(address)};
}

uint32_t AddressOf(const std::string& frame) {
    return (uint32_t{static_cast<unsigned char>(frame[4])} << 24) |
           (uint32_t{static_cast<unsigned char>(frame[5])} << 16) |
           (uint32_t{static_cast<unsigned char>(frame[6])} << 8) |
           static_cast<unsigned char>(frame[7]);
}

std::string VersionReply(const std::array<uint8_t, 2>& version) {
    return kHeader + static_cast<char>(version[0]) + static_cast<char>(version[1]);
}

}  // namespace

bool ParseSerialFault(const std::string& text, SerialFaults& faults) {
    if (text == "silent") {
        faults.silent = true;
    } else if (text == "wrong-header") {
        faults.wrongHeader = true;
    } else if (text == "short") {
        faults.shortReplies = true;
    } else if (text == "ignores-network-writes") {
        faults.ignoresNetworkWrites = true;
    } else {
        return ParseLoaderFault(text, faults.loader);
    }
    return true;
}

SerialProtocol::SerialProtocol(Unit& unit, const SerialFaults& faults)
    : m_unit(unit), m_faults(faults) {}

size_t SerialProtocol::FrameLength(unsigned char first) {
    return first == 4 || first == 5 || first == 8 ? first : 0;
}

std::string SerialProtocol::OnFrame(const std::string& frame) {
    if (frame.size() < 4 || FrameLength(static_cast<unsigned char>(frame[0])) != frame.size()) {
        return "";
    }
    const auto command = static_cast<unsigned char>(frame[3]);
    std::string reply;
    if (frame[1] == '\x53' && frame[2] == '\x57') {
        reply = MainController(command, frame);
    } else if (frame[1] == '\x87' && frame[2] == '\x60') {
        reply = NetController(command, frame);
    }
    return ApplyFaults(reply);
}

std::string SerialProtocol::MainController(unsigned char command, const std::string& frame) {
    const bool plain = frame.size() == 4;
    for (const ButtonFrame& entry : kButtonFrames) {
        if (plain && command == entry.command) {
            m_unit.Press(entry.button);
            return "";
        }
    }
    for (const LevelFrame& entry : kLevelFrames) {
        if (frame.size() == 5 && command == entry.setCommand) {
            m_unit.SetLevel(entry.level, static_cast<unsigned char>(frame[4]));
            return "";
        }
        if (plain && command == entry.setCommand + 1)
            return LevelReply(m_unit.GetLevel(entry.level));
    }
    if (!plain) return "";
    switch (command) {
        case 0x09:
            m_unit.Step(Level::Volume, 1);
            return "";
        case 0x0A:
            m_unit.Step(Level::Volume, -1);
            return "";
        case 0x11:
            return LevelReply(m_unit.GetLevel(Level::Volume));
        case 0x22:
            return VersionReply(m_unit.State().mainVersion);
        case 0x23:
            m_unit.FactoryReset();
            return "";
        case 0x24: {
            auto block = m_unit.StatusBlock();
            return kHeader + std::string(block.begin(), block.end());
        }
        default:
            return "";  // 0xFE (the firmware loader) and unknown codes
    }
}

std::string SerialProtocol::NetController(unsigned char command, const std::string& frame) {
    const UnitState state = m_unit.State();
    if (m_faults.ignoresNetworkWrites && frame.size() > 4) return "";
    if (frame.size() == 8) {
        switch (command) {
            case 0x06:
                m_unit.SetIp(AddressOf(frame));
                break;
            case 0x07:
                m_unit.SetMask(AddressOf(frame));
                break;
            case 0x08:
                m_unit.SetGateway(AddressOf(frame));
                break;
            default:
                break;
        }
        return "";
    }
    if (frame.size() == 5) {
        const auto mode = static_cast<unsigned char>(frame[4]);
        if (command == 0x09 && mode <= 1) m_unit.SetDhcp(mode == 1);
        return "";
    }
    switch (command) {
        case 0x01:
            return kHeader + std::string(state.mac.begin(), state.mac.end());
        case 0x02:
            return kHeader + Octets(state.ip);
        case 0x03:
            return kHeader + Octets(state.mask);
        case 0x04:
            return kHeader + Octets(state.gateway);
        case 0x05:
            return kHeader + static_cast<char>(state.dhcp ? 1 : 0);
        case 0x0A:
            return VersionReply(state.netVersion);
        case 0x0B:
            m_unit.RestoreDefaultIp();
            return "";
        default:
            return "";
    }
}

std::string SerialProtocol::ApplyFaults(std::string reply) const {
    if (m_faults.silent) return "";
    if (m_faults.wrongHeader && reply.size() >= 2) reply[1] = '\xCD';
    if (m_faults.shortReplies && !reply.empty()) reply.pop_back();
    return reply;
}

}  // namespace vantrel::sim

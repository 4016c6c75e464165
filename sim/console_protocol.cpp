#include "sim/console_protocol.h"

#include <cstdio>
#include <cstring>

#include "sim/dotted_address.h"

namespace vantrel::sim {

namespace {

const char kUser[] = "admin";
const char kPassword[] = "846";
const char kLoginPrompt[] = "login: ";

struct ButtonLine {
    const char* text;
    Button button;
};

const ButtonLine kButtonLines[] = {
    {"BTN1", Button::SoloLeft},      {"BTN2", Button::SoloRight},       {"BTN3", Button::Pre2ch},
    {"BTN4", Button::Next2ch},       {"BTN5", Button::Pre8ch},          {"BTN6", Button::Next8ch},
    {"BTNE", Button::SdiInput},      {"BTN8", Button::MixDown},         {"BTN9", Button::VuMode},
    {"BTNA", Button::DppmMode},      {"BTNB", Button::LkfsMode},        {"BTND", Button::HdmiInput},
    {"BTNF", Button::BalancedInput}, {"BTNG", Button::UnbalancedInput}, {"ROT3", Button::Mute},
};

struct RotationLine {
    const char* text;
    Level level;
    int delta;
};

// Volume moves by one step of its 0..40 scale, the LCD levels by 5 of their 0..255.
const RotationLine kRotationLines[] = {
    {"ROT1", Level::Volume, 1},     {"ROT2", Level::Volume, -1},
    {"ROT4", Level::Brightness, 5}, {"ROT5", Level::Brightness, -5},
    {"ROT6", Level::Contrast, 5},   {"ROT7", Level::Contrast, -5},
    {"ROT8", Level::Saturation, 5}, {"ROT9", Level::Saturation, -5},
};

struct ReadLine {
    const char* text;
    Level level;
};

const ReadLine kReadLines[] = {
    {"REA6", Level::Volume},
    {"REA8", Level::Brightness},
    {"REA9", Level::Contrast},
    {"REA10", Level::Saturation},
};

std::string Octets(uint32_t address) {
    return {static_cast<char>(address >> 24), static_cast<char>(address >> 16),
            static_cast<char>(address >> 8), static_cast<char>(address)};
}

std::string WithoutLineEnd(const std::string& line) {
    size_t end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
    return line.substr(0, end);
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

ConsoleProtocol::ConsoleProtocol(Unit& unit, const Faults& faults)
    : m_unit(unit), m_faults(faults) {}

std::string ConsoleProtocol::Greeting() const {
    return std::string("Vantrel console\r\n") + kLoginPrompt;
}

ConsoleProtocol::Reply ConsoleProtocol::OnLine(const std::string& line) {
    const std::string text = WithoutLineEnd(line);
    switch (m_stage) {
        case Stage::kUser:
            m_userAccepted = text == kUser;
            m_stage = Stage::kPassword;
            return {"password: "};
        case Stage::kPassword:
            if (m_faults.closeAtPassword) return {"", true};
            if (m_userAccepted && text == kPassword && !m_faults.refuseLogin) {
                m_stage = Stage::kCommands;
                return {"Login OK\r\n"};
            }
            m_stage = Stage::kUser;
            return {std::string("Login incorrect\r\n") + kLoginPrompt};
        case Stage::kCommands:
            break;
    }
    const bool silent = m_faults.silentAfterLogin ||
                        (m_faults.silentAfter >= 0 && m_commandCount >= m_faults.silentAfter);
    Reply reply{Answer(text), false, m_faults.delayMs};
    reply.loader = text == "FWUPDATE" && !silent;
    if (silent) reply.bytes.clear();
    reply.bytes = ApplyFaults(reply.bytes);
    ++m_commandCount;
    reply.close = m_faults.closeAfter >= 0 && m_commandCount >= m_faults.closeAfter;
    return reply;
}

std::string ConsoleProtocol::Answer(const std::string& command) {
    for (const ButtonLine& entry : kButtonLines) {
        if (command == entry.text) {
            m_unit.Press(entry.button);
            return "";
        }
    }
    for (const RotationLine& entry : kRotationLines) {
        if (command == entry.text) {
            if (!m_faults.stuckLevels) m_unit.Step(entry.level, entry.delta);
            return "";
        }
    }
    for (const ReadLine& entry : kReadLines) {
        if (command == entry.text) {
            char text[16];
            std::snprintf(text, sizeof text, "%d\r\n", m_unit.GetLevel(entry.level));
            return text;
        }
    }
    const UnitState state = m_unit.State();
    if (command == "STA1") {
        auto block = m_unit.StatusBlock();
        return std::string(block.begin(), block.end());
    }
    if (command == "READIP") return Octets(state.ip);
    if (command == "READMASK") return Octets(state.mask);
    if (command == "READGATEWAY") return Octets(state.gateway);
    if (command == "IPMODE") return state.dhcp ? "D" : "S";
    if (command == "READMAC") return std::string(state.mac.begin(), state.mac.end());
    if (command == "FWUPDATE") return "OK\r\n";
    if (command == "BTNC") {
        m_unit.FactoryReset();
        return "";
    }
    if (command == "DEFAULTIP") {
        m_unit.RestoreDefaultIp();
        return "";
    }
    if (command == "SETIPMODE=S" || command == "SETIPMODE=D") {
        m_unit.SetDhcp(command.back() == 'D');
        return "";
    }
    uint32_t address = 0;
    if (StartsWith(command, "MASK=") && ParseDotted(command.substr(5), address)) {
        m_unit.SetMask(address);
    } else if (StartsWith(command, "GATEWAY=") && ParseDotted(command.substr(8), address)) {
        m_unit.SetGateway(address);
    } else if (StartsWith(command, "IP=") && ParseDotted(command.substr(3), address)) {
        m_unit.SetIp(address);
    }
    // Settings lines and unknown lines get no answer.
    return "";
}

std::string ConsoleProtocol::ApplyFaults(std::string reply) const {
    if (m_faults.garbageReplies) {
        for (char& c : reply) c = static_cast<char>(0xA5);
    }
    if (m_faults.shortReplies && !reply.empty()) reply.pop_back();
    return reply;
}

}  // namespace vantrel::sim

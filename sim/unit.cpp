#include "sim/unit.h"

#include <algorithm>
#include <utility>

namespace vantrel::sim {

namespace {

constexpr int kLastChannelPage = 14;  // 16 channels, shown in pairs
constexpr uint32_t kFactoryMask = 0xFFFFFF00;
constexpr std::array<uint8_t, 6> kMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

void MovePage(int& page, int delta) { page = std::clamp(page + delta, 0, kLastChannelPage); }

// The first host of the unit's own subnet, so the gateway never points anywhere the unit's
// address does not already point.
uint32_t GatewayFor(uint32_t ip) { return (ip & kFactoryMask) | 1; }

}  // namespace

Unit::Unit(uint32_t ip, uint32_t defaultIp) : m_defaultIp(defaultIp) {
    ResetLocked();
    m_state.ip = ip;
    m_state.gateway = GatewayFor(ip);
}

UnitState Unit::State() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

void Unit::Press(Button button) {
    std::lock_guard<std::mutex> lock(m_mutex);
    UnitState& s = m_state;
    switch (button) {
        case Button::SoloLeft:
            s.soloLeft ^= 1;
            if (s.soloLeft) s.soloRight = 0;
            break;
        case Button::SoloRight:
            s.soloRight ^= 1;
            if (s.soloRight) s.soloLeft = 0;
            break;
        case Button::Pre2ch:
            MovePage(s.channelPage, -2);
            break;
        case Button::Next2ch:
            MovePage(s.channelPage, 2);
            break;
        case Button::Pre8ch:
            MovePage(s.channelPage, -8);
            break;
        case Button::Next8ch:
            MovePage(s.channelPage, 8);
            break;
        case Button::MixDown:
            s.mixDown ^= 1;
            break;
        case Button::Mute:
            s.muted ^= 1;
            break;
        case Button::VuMode:
            s.meterMode = 0;
            break;
        case Button::DppmMode:
            s.meterMode = 1;
            break;
        case Button::LkfsMode:
            s.meterMode = 2;
            break;
        case Button::HdmiInput:
            s.input = 0;
            break;
        case Button::SdiInput:
            s.input = 1;
            break;
        case Button::BalancedInput:
            s.input = 2;
            break;
        case Button::UnbalancedInput:
            s.input = 3;
            break;
    }
}

int Unit::RangeMax(Level level) { return level == Level::Volume ? kVolumeMax : kLcdMax; }

void Unit::Step(Level level, int delta) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int& value = m_state.levels[static_cast<int>(level)];
    value = std::clamp(value + delta, 0, RangeMax(level));
}

void Unit::SetLevel(Level level, int value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.levels[static_cast<int>(level)] = std::clamp(value, 0, RangeMax(level));
}

int Unit::GetLevel(Level level) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state.levels[static_cast<int>(level)];
}

std::array<uint8_t, 9> Unit::StatusBlock() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const UnitState& s = m_state;
    return {s.soloLeft,
            s.soloRight,
            s.mixDown,
            static_cast<uint8_t>(s.levels[0]),
            s.meterMode,
            static_cast<uint8_t>(s.levels[1]),
            static_cast<uint8_t>(s.levels[2]),
            static_cast<uint8_t>(s.levels[3]),
            s.input};
}

void Unit::Update(const std::function<void(UnitState&)>& change) {
    std::lock_guard<std::mutex> lock(m_mutex);
    change(m_state);
}

void Unit::SetIp(uint32_t ip) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.ip = ip;
}

void Unit::SetMask(uint32_t mask) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.mask = mask;
}

void Unit::SetGateway(uint32_t gateway) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.gateway = gateway;
}

void Unit::SetDhcp(bool dhcp) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.dhcp = dhcp;
}

void Unit::RestoreDefaultIp() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.ip = m_defaultIp;
}

void Unit::FactoryReset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ResetLocked();
}

void Unit::ResetLocked() {
    m_state = UnitState{};
    m_state.levels = {20, 128, 128, 128};
    m_state.ip = m_defaultIp;
    m_state.mask = kFactoryMask;
    m_state.gateway = GatewayFor(m_defaultIp);
    m_state.mac = kMac;
    m_state.mainVersion = {1, 0};
    m_state.netVersion = {1, 0};
}

std::vector<uint8_t> Unit::MainFlash() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mainFlash;
}

void Unit::SetMainFlash(std::vector<uint8_t> image) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mainFlash = std::move(image);
}

std::vector<uint8_t> Unit::NetFlash() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_netFlash;
}

void Unit::SetNetFlash(std::vector<uint8_t> flash) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_netFlash = std::move(flash);
}

}  // namespace vantrel::sim

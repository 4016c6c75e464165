#include "cli/unit_view.h"

#include <thread>

#include "link/control_ids.h"
#include "link/refresh_panel.h"

namespace vantrel::cli {

std::string UnitView::Text(int control) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_texts.find(control);
    return it == m_texts.end() ? "" : it->second;
}

std::vector<std::string> UnitView::TakeMessages() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> messages;
    messages.swap(m_messages);
    return messages;
}

Outcome UnitView::TakeConfirmation() {
    for (const std::string& message : TakeMessages()) {
        if (message == "Finish!") return {};
        return Outcome::Failed(message);
    }
    return Outcome::Failed("the unit did not confirm");
}

void UnitView::FillStatus(UnitStatus& status) const {
    status.soloLeft = m_state.m_lamps[0];
    status.soloRight = m_state.m_lamps[1];
    status.mixDown = m_state.m_lamps[2];
    status.meterMode = m_state.m_lamps[3];
    status.input = m_state.m_nInput;
    for (int i = 0; i < 4; ++i) status.levels[i] = m_state.m_levels[i];
    std::lock_guard<std::mutex> lock(m_mutex);
    auto address = [this](int control) {
        auto it = m_addresses.find(control);
        return it == m_addresses.end() ? 0u : it->second;
    };
    status.ip = address(kIpAddress);
    status.mask = address(kMaskAddress);
    status.gateway = address(kGatewayAddress);
    status.ipMode = m_state.m_nIpMode;
    auto mac = m_texts.find(kMacText);
    status.mac = mac == m_texts.end() ? "" : mac->second;
}

void UnitView::SetText(int control, const char* text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts[control] = text;
}

uint32_t UnitView::GetAddress(int control) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_addresses.find(control);
    return it == m_addresses.end() ? 0 : it->second;
}

void UnitView::SetAddress(int control, uint32_t address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_addresses[control] = address;
}

void UnitView::ShowMessage(const char* text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(text);
}

// Keeps the previous copies in step, as the panel's redraw does for the input.
void UnitView::RefreshPanel() {
    vantrel::RefreshPanel(m_state, *this);
    ++m_refreshes;
}

void UnitView::WaitForSession(Clock::Duration step) { std::this_thread::sleep_for(step); }

}  // namespace vantrel::cli

#include "link/panel_state.h"

namespace vantrel {

// Each store is made under the mutex that WaitForWork checks its condition under, so a store
// between the check and the wait cannot be missed.
void PanelState::StoreCommand(uint8_t code) {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_nCommand.m_value = code;
    }
    m_wake.notify_all();
}

void PanelState::StoreLinkDown(int32_t value) {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_bLinkDown.m_value = value;
    }
    m_wake.notify_all();
}

bool PanelState::StoreCommandIfFree(uint8_t code) {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        if (m_bLinkDown != 0 || m_nCommand != 0) return false;
        m_nCommand.m_value = code;
    }
    m_wake.notify_all();
    return true;
}

void PanelState::WaitForWork() {
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    m_wake.wait(lock, [this] { return m_nCommand != 0 || m_bLinkDown != 0; });
}

}  // namespace vantrel

#include "presenters/panel_state.h"

namespace vantrel {

// Each store is made under the mutex that WaitForWork checks its condition under, so a store
// between the check and the wait cannot be missed.
void PanelState::StoreCommand(uint8_t code) {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_nCommand.m_value = code;
        ++m_nStores;
    }
    Stored();
}

void PanelState::StoreLinkDown(int32_t value) {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_bLinkDown.m_value = value;
        ++m_nStores;
    }
    Stored();
}

bool PanelState::StoreCommandIfFree(uint8_t code) {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        if (m_bLinkDown != 0 || m_nCommand != 0) return false;
        m_nCommand.m_value = code;
        ++m_nStores;
    }
    Stored();
    return true;
}

void PanelState::ClearCommand(uint8_t served) {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        uint8_t expected = served;
        if (!m_nCommand.m_value.compare_exchange_strong(expected, 0)) return;
        ++m_nStores;
    }
    Stored();
}

void PanelState::WaitForWork() {
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    m_wake.wait(lock, [this] { return m_nCommand != 0 || m_bLinkDown != 0; });
}

void PanelState::WaitForStore(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    const std::uint64_t seen = m_nStores;
    m_wake.wait_for(lock, limit, [&] { return m_nStores != seen; });
}

void PanelState::Stored() {
    m_wake.notify_all();
    if (m_onStore) m_onStore();
}

}  // namespace vantrel

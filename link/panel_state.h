#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vantrel {

/// What the panel knows of the unit and how it is talking to it: shared by the window's thread
/// and the network session thread. The window derives from it, so the fields become its
/// members. Platform objects (socket, serial port, pressed-picture slot) stay in the window.
///
/// No lock guards the plain fields: the last store wins and the next status update brings them
/// back in line with the unit. m_nCommand and m_bLinkDown are stored only through StoreCommand
/// and StoreLinkDown, which also wake the session waiting in WaitForWork.
struct PanelState {
    std::atomic<int32_t> m_bLinkDown{1};        // 1: no session runs, or the running one must end
    int32_t m_comPorts[10] = {};                // COM port numbers in the order of the COM list
    uint8_t m_lamps[4] = {255, 255, 255, 231};  // Solo Left, Solo Right, Mix-Down, meter mode
    int32_t m_levels[4] = {999, 0, 0, 0};       // Volume, LCD Brightness, Contrast, Saturation
    uint8_t m_prevLamps[4] = {255, 255, 255, 255};
    uint8_t m_nInput = 5;  // 0 HDMI, 1 SDI, 2 Balanced, 3 Unbalanced, other: none
    uint8_t m_nPrevInput = 5;
    int32_t m_prevLevels[4] = {255, 255, 255, 255};
    uint8_t m_nSerialState = 0;          // 0 free, 1 the status poll, 2 a command exchange
    std::atomic<uint8_t> m_nCommand{0};  // pending command code for the session; 0 none
    uint8_t m_nLinkMode = 1;             // 1 Ethernet, 2 RS232
    uint8_t m_nIpMode = 0;               // 0 unknown, 1 static, 2 DHCP
    std::atomic<uint8_t> m_bPollPaused{0};

    PanelState() = default;
    PanelState(const PanelState&) = delete;
    PanelState& operator=(const PanelState&) = delete;

    void StoreCommand(uint8_t code);
    void StoreLinkDown(int32_t value);
    /// Stores code only while a session runs and no other code is pending, as one step, so
    /// that a code the session stores meanwhile is not overwritten. True when stored.
    bool StoreCommandIfFree(uint8_t code);
    /// Blocks until a command code is pending or the link is down; returns at once if either
    /// holds already. The session waits here instead of polling.
    void WaitForWork();

  private:
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
};

}  // namespace vantrel

#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vantrel {

/// A value that both threads read and write, last store winning: relaxed atomic loads and
/// stores, so neither thread ever reads a torn or undefined value, at no cost.
template <typename T>
class Relaxed {
  public:
    constexpr Relaxed(T value = T{}) : m_value(value) {}
    Relaxed(const Relaxed&) = delete;
    Relaxed& operator=(const Relaxed& other) { return *this = static_cast<T>(other); }

    operator T() const { return m_value.load(std::memory_order_relaxed); }
    Relaxed& operator=(T value) {
        m_value.store(value, std::memory_order_relaxed);
        return *this;
    }

  private:
    std::atomic<T> m_value;
};

/// A flag or code that the session waits on. Only PanelState's stores write it, because they
/// also wake the session: a plain assignment would leave an idle session asleep, so it does
/// not compile.
template <typename T>
class WakingValue {
  public:
    constexpr explicit WakingValue(T value) : m_value(value) {}
    WakingValue(const WakingValue&) = delete;
    WakingValue& operator=(const WakingValue&) = delete;

    operator T() const { return m_value.load(); }
    /// For waits that only read it (the console stream's stop flag).
    const std::atomic<T>& Atomic() const { return m_value; }

  private:
    friend struct PanelState;
    std::atomic<T> m_value;
};

/// m_nLinkMode: the link in use.
constexpr uint8_t kLinkEthernet = 1;
constexpr uint8_t kLinkSerial = 2;

/// m_nIpMode: the unit's address mode as last read or chosen.
constexpr uint8_t kIpModeUnknown = 0;
constexpr uint8_t kIpModeStatic = 1;
constexpr uint8_t kIpModeDhcp = 2;

/// What the panel knows of the unit and how it is talking to it: shared by the window's thread
/// and the network session thread. The window derives from it, so the fields become its
/// members. Platform objects (socket, serial port) stay in the window.
///
/// No lock guards the fields that both threads write: the last store wins and the next status
/// update brings them back in line with the unit. m_nCommand and m_bLinkDown are stored only
/// through StoreCommand and StoreLinkDown, which also wake the session waiting in WaitForWork.
struct PanelState {
    WakingValue<int32_t> m_bLinkDown{1};  // 1: no session runs, or the running one must end
    int32_t m_comPorts[10] = {};          // COM port numbers in the order of the COM list
    int32_t m_nComPortCount = 0;          // how many of m_comPorts the machine has
    Relaxed<uint8_t> m_lamps[4] = {255, 255, 255, 231};  // Solo L, Solo R, Mix-Down, meter mode
    Relaxed<int32_t> m_levels[4] = {999, 0, 0, 0};  // Volume, LCD Brightness, Contrast, Saturation
    Relaxed<uint8_t> m_prevLamps[4] = {255, 255, 255, 255};
    Relaxed<uint8_t> m_nInput = 5;  // 0 HDMI, 1 SDI, 2 Balanced, 3 Unbalanced, other: none
    Relaxed<uint8_t> m_nPrevInput = 5;
    Relaxed<int32_t> m_prevLevels[4] = {255, 255, 255, 255};
    uint8_t m_nSerialState = 0;           // 0 free, 1 the status poll, 2 a command exchange
    WakingValue<uint8_t> m_nCommand{0};   // pending command code for the session; 0 none
    uint8_t m_nLinkMode = kLinkEthernet;  // window's thread only
    Relaxed<uint8_t> m_nIpMode = kIpModeUnknown;
    std::atomic<uint8_t> m_bPollPaused{0};
    /// 1 while the firmware dialog is open: no status poll is posted meanwhile, whatever a
    /// login that ends meanwhile does with m_bPollPaused.
    std::atomic<uint8_t> m_bFirmwareOpen{0};
    /// Held by whoever uses the console stream: the session while it starts, runs a pass or
    /// ends, and a firmware update through the console while it runs.
    std::mutex m_streamUse;

    PanelState() = default;
    PanelState(const PanelState&) = delete;
    PanelState& operator=(const PanelState&) = delete;

    void StoreCommand(uint8_t code);
    void StoreLinkDown(int32_t value);
    /// Stores code only while a session runs and no other code is pending, as one step, so
    /// that a code the session stores meanwhile is not overwritten. True when stored.
    bool StoreCommandIfFree(uint8_t code);
    /// The session's clear once it has served `served`: a code stored meanwhile (Read pressed
    /// during a poll, say) stays, to be served next.
    void ClearCommand(uint8_t served);
    /// Blocks until a command code is pending or the link is down; returns at once if either
    /// holds already. The session waits here instead of polling.
    void WaitForWork();
    /// Blocks until the code or the link flag is next stored, or until `limit` has passed.
    void WaitForStore(std::chrono::milliseconds limit);
    /// Called after every store of the code or the link flag, on the storing thread: a wait
    /// that must keep delivering the window's messages wakes on it instead of a condition.
    /// Set before any other thread uses the state.
    void SetStoreListener(std::function<void()> listener) { m_onStore = std::move(listener); }

  private:
    void Stored();

    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    std::uint64_t m_nStores = 0;  // counts the stores, for WaitForStore
    std::function<void()> m_onStore;
};

}  // namespace vantrel

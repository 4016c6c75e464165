#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace vantrel::sim {

/// Everything the simulated unit knows about itself. Addresses are 32-bit values with the
/// first octet in the top byte, as the panel's address controls hold them.
struct UnitState {
    uint8_t soloLeft = 0;   // 0 off, 1 on
    uint8_t soloRight = 0;  // 0 off, 1 on
    uint8_t mixDown = 0;    // 0 off, 1 on
    uint8_t meterMode = 0;  // 0 VU, 1 DPPM, 2 LKFS
    uint8_t input = 0;      // 0 HDMI, 1 SDI, 2 Balanced, 3 Unbalanced
    uint8_t muted = 0;
    int channelPage = 0;          // first channel pair shown, moved by the paging buttons
    std::array<int, 4> levels{};  // Volume (0..40), LCD Brightness, Contrast, Saturation
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    bool dhcp = false;
    std::array<uint8_t, 6> mac{};
    std::array<uint8_t, 2> mainVersion{};  // major, minor of the main controller's firmware
    std::array<uint8_t, 2> netVersion{};   // major, minor of the network controller's firmware
};

/// The unit's front-panel buttons, as both the TCP console and the serial frames name them.
enum class Button {
    SoloLeft,
    SoloRight,
    Pre2ch,
    Next2ch,
    Pre8ch,
    Next8ch,
    MixDown,
    Mute,
    VuMode,
    DppmMode,
    LkfsMode,
    HdmiInput,
    SdiInput,
    BalancedInput,
    UnbalancedInput,
};

enum class Level { Volume = 0, Brightness = 1, Contrast = 2, Saturation = 3 };

/// The simulated unit's state and what its controls do to it. Thread-safe: the TCP console
/// and the serial side share one Unit.
class Unit {
  public:
    static constexpr int kVolumeMax = 40;
    static constexpr int kLcdMax = 255;
    static constexpr uint32_t kFactoryDefaultIp = 0xC0A801DC;  // 192.168.1.220

    /// ip: the unit's IP setting at power-up; defaultIp: what Default IP and a factory
    /// reset restore.
    Unit(uint32_t ip, uint32_t defaultIp);

    UnitState State() const;

    void Press(Button button);
    /// Moves a level by delta, kept within its range (Volume 0..40, LCD levels 0..255).
    void Step(Level level, int delta);
    /// Sets a level, kept within its range.
    void SetLevel(Level level, int value);
    int GetLevel(Level level) const;

    /// The 9-byte status block: Solo Left, Solo Right, Mix-Down, Volume, meter mode,
    /// LCD Brightness, Contrast, Saturation, input.
    std::array<uint8_t, 9> StatusBlock() const;

    /// Any other change, made under the unit's lock (the control interface's settings).
    void Update(const std::function<void(UnitState&)>& change);

    void SetIp(uint32_t ip);
    void SetMask(uint32_t mask);
    void SetGateway(uint32_t gateway);
    void SetDhcp(bool dhcp);
    void RestoreDefaultIp();
    void FactoryReset();

    /// The main controller's image as its bootloader last took it whole (empty: none yet).
    std::vector<uint8_t> MainFlash() const;
    void SetMainFlash(std::vector<uint8_t> image);
    /// The net controller's whole flash, as its bootloader left it.
    std::vector<uint8_t> NetFlash() const;
    void SetNetFlash(std::vector<uint8_t> flash);

    /// The net controller's flash: everything up to the end of its top page.
    static constexpr size_t kNetFlashSize = 0x1F800;

  private:
    static int RangeMax(Level level);
    void ResetLocked();

    mutable std::mutex m_mutex;
    UnitState m_state;
    const uint32_t m_defaultIp;
    std::vector<uint8_t> m_mainFlash;
    std::vector<uint8_t> m_netFlash = std::vector<uint8_t>(kNetFlashSize, 0x00);
};

}  // namespace vantrel::sim

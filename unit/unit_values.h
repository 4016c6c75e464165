#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace vantrel {

/// The unit's 9-byte state record: Solo Left, Solo Right, Mix-Down, Volume, meter mode, LCD
/// Brightness, Contrast, Saturation, input. The console's status reply carries it from its
/// first byte, the serial one after AA CC.
constexpr std::size_t kStatusBlockSize = 9;
using StatusBlock = std::array<std::uint8_t, kStatusBlockSize>;

/// Where each value sits in the status block.
namespace status_byte {
constexpr std::size_t kSoloLeft = 0;
constexpr std::size_t kSoloRight = 1;
constexpr std::size_t kMixDown = 2;
constexpr std::size_t kVolume = 3;
constexpr std::size_t kMeterMode = 4;  // 0 VU, any other value DPPM
constexpr std::size_t kBrightness = 5;
constexpr std::size_t kContrast = 6;
constexpr std::size_t kSaturation = 7;
constexpr std::size_t kInput = 8;  // 0 HDMI, 1 SDI, 2 Balanced, 3 Unbalanced, other: none
}  // namespace status_byte

/// The unit's four levels, numbered as their slots in the panel's levels.
enum class Level : std::uint8_t { Volume = 0, Brightness = 1, Contrast = 2, Saturation = 3 };
/// The status block byte that reports a level.
std::size_t StatusByteOf(Level level);

enum class StepDirection : std::uint8_t { Down, Up };

using MacAddress = std::array<std::uint8_t, 6>;

/// The unit's address mode, numbered as the panel's m_nIpMode.
enum class AddressMode : std::uint8_t { Unknown = 0, Static = 1, Dhcp = 2 };

/// The network controller's settings as a read gave them; a reply that did not pass its
/// check leaves its value out.
struct NetworkSettings {
    std::optional<MacAddress> mac;
    std::optional<std::uint32_t> ip, mask, gateway;  // first octet in the top byte
    std::optional<AddressMode> mode;
};

/// The three addresses that an Apply writes.
struct Addresses {
    std::uint32_t ip = 0;
    std::uint32_t mask = 0;
    std::uint32_t gateway = 0;
};

struct FirmwareVersion {
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
};

struct FirmwareVersions {
    std::optional<FirmwareVersion> main;
    std::optional<FirmwareVersion> net;
};

}  // namespace vantrel

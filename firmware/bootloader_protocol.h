#pragma once

#include <atomic>
#include <cstdint>

#include "firmware/firmware_view.h"
#include "firmware/loader_link.h"
#include "unit/clock.h"

namespace vantrel::firmware {

/// The pauses between a packet and the reading of its reply. The COM port needs them for the
/// bytes to cross the line; through the console each reply is simply awaited.
struct LoaderPauses {
    Clock::Duration afterStatus;
    Clock::Duration afterData;
    Clock::Duration afterFinish;
};
constexpr LoaderPauses kSerialPauses{Clock::Duration{5}, Clock::Duration{15}, Clock::Duration{10}};
constexpr LoaderPauses kStreamPauses{Clock::Duration{0}, Clock::Duration{0}, Clock::Duration{0}};

/// The smallest image the bootloader takes.
constexpr std::int32_t kSmallestLoaderImage = 256;

/// Ping, then Download of an image of `length` bytes; true when both were acknowledged.
bool StartDownload(LoaderLink& link, Clock& clock, std::uint32_t length);

/// The image in 76-byte SendData packets, each after a status check, with the progress bar
/// counting chunks; then the closing status check and Finish. True when every reply passed.
/// `stop` is looked at between chunks: once set, the update ends unfinished (false).
bool SendImage(LoaderLink& link, Clock& clock, const LoaderPauses& pauses,
               const std::uint8_t* image, std::int32_t length, FirmwareView& view,
               const std::atomic<std::uint8_t>& stop);

}  // namespace vantrel::firmware

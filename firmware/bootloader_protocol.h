#pragma once

#include <cstdint>
#include <vector>

#include "firmware/loader_link.h"
#include "firmware/progress.h"
#include "unit/clock.h"
#include "unit/outcome.h"

namespace vantrel::firmware {

/// The smallest image the bootloader takes.
constexpr std::int32_t kSmallestLoaderImage = 256;

/// Ping, then Download of an image of `length` bytes. No reply is kNothingReceived, a
/// negative acknowledgement kRefused.
Outcome StartDownload(LoaderLink& link, Clock& clock, std::uint32_t length);

/// The image in 76-byte SendData packets, each after a status check, reporting kWriting with
/// the bytes sent after each packet; then kFinishing, the closing status check and Finish.
/// `stop` is looked at between packets: once set, the update ends unfinished (kStopped). An
/// image shorter than the loader takes is kImageTooShort; a negative acknowledgement kRefused;
/// any other reply that fails kBadReply.
Outcome SendImage(LoaderLink& link, Clock& clock, const LoaderPauses& pauses,
                  const std::vector<std::uint8_t>& image, const ProgressSink& progress,
                  const StopFlag& stop);

}  // namespace vantrel::firmware

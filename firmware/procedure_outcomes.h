#pragma once

#include <atomic>
#include <cstdint>

#include "firmware/dialog_port.h"
#include "unit/outcome.h"

namespace vantrel::firmware {

// The procedures' outcomes, each with the status text the dialog shows for it, so that a
// client learns what happened from the fault and never from the text.

constexpr Failure kOccupied{Fault::kNotOpened, kPortOccupied};
constexpr Failure kOpenFailed{Fault::kNotOpened, "Fail to open COM port!"};
/// Ping or Download went unacknowledged: the loader stayed silent or refused.
constexpr Failure kNoLoader{Fault::kNothingReceived, "Fail to connect to device!"};
constexpr Failure kWriteFailed{Fault::kBadReply, "Fail to write flash!"};
constexpr Failure kWriteStopped{Fault::kStopped, "Fail to write flash!"};
constexpr const char* kUpdatedText = "Firmware Updated!";

/// The end of an image's write: done, stopped by the dialog, or a reply that failed.
inline Outcome WriteOutcome(bool written, const std::atomic<std::uint8_t>& stop) {
    if (written) return {};
    return stop != 0 ? kWriteStopped : kWriteFailed;
}

/// The status text that ends an update.
inline const char* EndText(const Outcome& outcome) {
    return outcome.Ok() ? kUpdatedText : outcome.Text();
}

}  // namespace vantrel::firmware

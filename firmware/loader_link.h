#pragma once

#include <cstdint>

#include "firmware/progress.h"
#include "unit/clock.h"
#include "unit/outcome.h"

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

/// The line to the main controller's bootloader: the COM port or the console's TCP stream.
/// The packet protocol is written once over this, so both links share every packet,
/// checksum and reply rule.
class LoaderLink {
  public:
    virtual ~LoaderLink() = default;
    virtual bool IsOpen() const = 0;
    virtual LoaderPauses Pauses() const = 0;
    /// Asks the main controller to start its bootloader and waits for it to listen, reporting
    /// each step as kEntering.
    virtual Outcome Enter(Clock& clock, const ProgressSink& progress) = 0;
    /// Sends all count bytes; false when they did not all go.
    virtual bool Write(const void* data, std::uint32_t count) = 0;
    /// Reads the reply to the last packet: up to count bytes, fewer when the line stays
    /// silent past its time limit or fails. Only bytes received for this reply count.
    virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
};

}  // namespace vantrel::firmware

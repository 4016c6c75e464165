#pragma once

#include <cstdint>

namespace vantrel::firmware {

/// The line to the main controller's bootloader: the COM port or the console's TCP stream.
/// The packet protocol is written once over this, so both links share every packet,
/// checksum and reply rule.
class LoaderLink {
  public:
    virtual ~LoaderLink() = default;
    virtual bool IsOpen() const = 0;
    /// Sends all count bytes; false when they did not all go.
    virtual bool Write(const void* data, std::uint32_t count) = 0;
    /// Reads the reply to the last packet: up to count bytes, fewer when the line stays
    /// silent past its time limit or fails. Only bytes received for this reply count.
    virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
};

}  // namespace vantrel::firmware

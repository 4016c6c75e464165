#pragma once

#include "firmware/loader_link.h"
#include "serial/serial_device.h"

namespace vantrel::firmware {

/// An open COM port at the loader's baud rate; its reads are bounded by the port's time-outs,
/// which Enter sets for the loader's replies.
class SerialLoaderLink : public LoaderLink {
  public:
    explicit SerialLoaderLink(SerialDevice& port) : m_port(port) {}
    bool IsOpen() const override;
    LoaderPauses Pauses() const override { return kSerialPauses; }
    /// The loader entry frame, 3 s for the loader to start, then the loader's time-outs.
    Outcome Enter(Clock& clock, const ProgressSink& progress) override;
    bool Write(const void* data, std::uint32_t count) override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;

  private:
    SerialDevice& m_port;
};

}  // namespace vantrel::firmware

#pragma once

#include "firmware/loader_link.h"
#include "serial/serial_device.h"

namespace vantrel::firmware {

/// The dialog's COM port; its reads are bounded by the port's time-outs.
class SerialLoaderLink : public LoaderLink {
  public:
    explicit SerialLoaderLink(SerialDevice& port) : m_port(port) {}
    bool IsOpen() const override;
    bool Write(const void* data, std::uint32_t count) override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;

  private:
    SerialDevice& m_port;
};

}  // namespace vantrel::firmware

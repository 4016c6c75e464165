#include "firmware/serial_loader_link.h"

namespace vantrel::firmware {

bool SerialLoaderLink::IsOpen() const { return m_port.IsOpen(); }

bool SerialLoaderLink::Write(const void* data, std::uint32_t count) {
    return m_port.Write(data, count) == count;
}

std::uint32_t SerialLoaderLink::Read(void* buffer, std::uint32_t count) {
    return m_port.Read(buffer, count);
}

}  // namespace vantrel::firmware

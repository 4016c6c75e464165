#include "gateway/fleet/write_guard.h"

namespace vantrel::gateway {

bool GuardedStream::Connect(const char* address, uint16_t port) {
    return m_mayWrite() && m_inner->Connect(address, port);
}

int GuardedStream::Send(const void* data, int count) {
    if (!m_mayWrite()) return kTransferFailed;
    return m_inner->Send(data, count);
}

PortHandle GuardedDevice::Open(std::uint32_t port, std::uint32_t baudRate, ParityCode parity,
                               std::uint8_t dataBits, StopBitsCode stopBits, FlowControlCode flow,
                               bool overlapped) {
    if (!m_mayWrite()) return kInvalidPort;
    return m_inner->Open(port, baudRate, parity, dataBits, stopBits, flow, overlapped);
}

int GuardedDevice::Write(const void* buffer, std::uint32_t count) {
    if (!m_mayWrite()) return kTransferFailed;
    return m_inner->Write(buffer, count);
}

void GuardedDevice::SetRts() {
    if (m_mayWrite()) m_inner->SetRts();
}

void GuardedDevice::ClearDtr() {
    if (m_mayWrite()) m_inner->ClearDtr();
}

}  // namespace vantrel::gateway

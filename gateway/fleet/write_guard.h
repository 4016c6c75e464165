#pragma once

#include <functional>
#include <memory>

#include "serial/serial_device.h"
#include "unit/byte_stream.h"

namespace vantrel::gateway {

/// Whether the gateway may send to its units now: while gateways share the units, only as long
/// as its hold on them is sure.
using MayWrite = std::function<bool()>;

/// A console connection that asks before each connect and each send, and refuses them (as a
/// failed transfer, which the link takes as lost) when it may not.
class GuardedStream : public ByteStream {
  public:
    GuardedStream(std::unique_ptr<ByteStream> inner, MayWrite mayWrite)
        : m_inner(std::move(inner)), m_mayWrite(std::move(mayWrite)) {}

    bool Connect(const char* address, uint16_t port) override;
    int Send(const void* data, int count) override;
    int Receive(void* buffer, int capacity) override { return m_inner->Receive(buffer, capacity); }
    int ReceiveWithin(void* buffer, int capacity, Clock::Duration limit) override {
        return m_inner->ReceiveWithin(buffer, capacity, limit);
    }
    void Close() override { m_inner->Close(); }

  private:
    const std::unique_ptr<ByteStream> m_inner;
    const MayWrite m_mayWrite;
};

/// A serial port that asks before it is opened and before each write or line signal, and
/// refuses them when it may not.
class GuardedDevice : public SerialDevice {
  public:
    GuardedDevice(std::unique_ptr<SerialDevice> inner, MayWrite mayWrite)
        : m_inner(std::move(inner)), m_mayWrite(std::move(mayWrite)) {}

    PortHandle Open(std::uint32_t port, std::uint32_t baudRate, ParityCode parity,
                    std::uint8_t dataBits, StopBitsCode stopBits, FlowControlCode flow,
                    bool overlapped) override;
    void Close() override { m_inner->Close(); }
    bool IsOpen() const override { return m_inner->IsOpen(); }
    bool OpenRefused() const override { return m_inner->OpenRefused(); }
    int Read(void* buffer, std::uint32_t count) override { return m_inner->Read(buffer, count); }
    int Write(const void* buffer, std::uint32_t count) override;
    bool Purge() override { return m_inner->Purge(); }
    bool Flush() override { return m_inner->Flush(); }
    bool SetBreak() override { return m_mayWrite() && m_inner->SetBreak(); }
    void SetRts() override;
    void ClearDtr() override;
    bool GetTimeouts(SerialTimeouts* timeouts) override { return m_inner->GetTimeouts(timeouts); }
    bool SetTimeouts(const SerialTimeouts& timeouts) override {
        return m_inner->SetTimeouts(timeouts);
    }

  private:
    const std::unique_ptr<SerialDevice> m_inner;
    const MayWrite m_mayWrite;
};

}  // namespace vantrel::gateway

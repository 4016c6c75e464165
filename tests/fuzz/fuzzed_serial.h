#pragma once

#include <cstdint>
#include <vector>

#include "unit/serial_exchanges.h"
#include "serial/serial_device.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"

namespace vantrel::fuzzing {

/// A COM port whose unit is played by the fuzz input. Each Read takes one chunk: a length byte
/// n, then min(n, count) bytes (fewer when the input runs out; none once it is used up). The
/// bytes of the buffer that a read did not fill are poisoned. Every call but Open needs an open
/// port, and every frame written must be well formed. What each read delivered and each write
/// carried is kept for the driver to judge the exchange's result against.
class FuzzedSerial : public SerialDevice {
  public:
    struct Reply {
        std::vector<std::uint8_t> bytes;  // what arrived
        std::uint32_t asked;              // the length the exchange read
    };

    explicit FuzzedSerial(FuzzInput& input) : m_input(input) {}

    const std::vector<Reply>& Replies() const { return m_replies; }
    const std::vector<std::vector<std::uint8_t>>& Writes() const { return m_writes; }
    std::uint32_t OpenedPort() const { return m_port; }
    /// Forgets the reads and writes of the last exchange.
    void ClearRecord() {
        m_replies.clear();
        m_writes.clear();
    }

    PortHandle Open(std::uint32_t port, std::uint32_t baudRate, ParityCode parity,
                    std::uint8_t dataBits, StopBitsCode stopBits, FlowControlCode flow,
                    bool overlapped) override {
        Require(!m_open, "a port is opened once per exchange");
        Require(baudRate == kPanelBaudRate && parity == ParityCode::None && dataBits == 8 &&
                    stopBits == StopBitsCode::One && flow == FlowControlCode::None && !overlapped,
                "the panel opens its ports at 115200 8N1 without handshake");
        m_open = true;
        m_port = port;
        return 7;
    }
    void Close() override { m_open = false; }
    bool IsOpen() const override { return m_open; }

    int Read(void* buffer, std::uint32_t count) override {
        Require(m_open, "reads happen on an open port");
        Require(buffer != nullptr && count > 0 && count <= kStatusReplyLength,
                "a read asks for one reply's length");
        std::uint32_t length = m_input.ByteOr(0);
        if (length > count) length = count;
        const auto received = static_cast<std::uint32_t>(m_input.Take(buffer, length));
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        m_replies.push_back({std::vector<std::uint8_t>(bytes, bytes + received), count});
        PoisonUnreceived(buffer, received, count);
        return static_cast<int>(received);
    }

    int Write(const void* buffer, std::uint32_t count) override {
        Require(m_open, "writes happen on an open port");
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        Require((count == 4 || count == 5 || count == 8) && bytes[0] == count,
                "a frame is 4, 5 or 8 bytes and starts with its length");
        Require((bytes[1] == 0x53 && bytes[2] == 0x57) || (bytes[1] == 0x87 && bytes[2] == 0x60),
                "a frame carries a unit marker");
        m_writes.emplace_back(bytes, bytes + count);
        return static_cast<int>(count);
    }

    bool Purge() override { return OpenCall(); }
    bool Flush() override { return OpenCall(); }
    bool SetBreak() override { return OpenCall(); }
    void SetRts() override { OpenCall(); }
    void ClearDtr() override { OpenCall(); }
    bool GetTimeouts(SerialTimeouts* timeouts) override {
        *timeouts = SerialTimeouts{};
        return OpenCall();
    }
    bool SetTimeouts(const SerialTimeouts&) override { return OpenCall(); }

  private:
    bool OpenCall() {
        Require(m_open, "port calls happen on an open port");
        return true;
    }

    FuzzInput& m_input;
    bool m_open = false;
    std::uint32_t m_port = 0;
    std::vector<Reply> m_replies;
    std::vector<std::vector<std::uint8_t>> m_writes;
};

}  // namespace vantrel::fuzzing

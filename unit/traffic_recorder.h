#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "serial/serial_device.h"
#include "unit/byte_stream.h"

namespace vantrel {

/// The bytes that went each way during one exchange with a unit, between two boundaries that
/// the caller marks.
struct RecordedExchange {
    std::string name;
    std::string outcome;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> received;
    /// The previous boundary (or the recorder's creation) and this one.
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
};

/// Where each finished exchange goes (a support log, say). Called on the thread that ends it.
using ExchangeSink = std::function<void(const RecordedExchange&)>;

/// Collects the bytes that the recording transports below pass through, and hands them to the
/// sink as one exchange at each boundary. The transports may be used from another thread than
/// the one that marks the boundaries.
class TrafficRecorder {
  public:
    using Now = std::function<std::chrono::system_clock::time_point()>;

    explicit TrafficRecorder(ExchangeSink sink, Now now = std::chrono::system_clock::now);
    TrafficRecorder(const TrafficRecorder&) = delete;
    TrafficRecorder& operator=(const TrafficRecorder&) = delete;

    void AddSent(const void* data, std::size_t count);
    void AddReceived(const void* data, std::size_t count);
    /// Hands everything since the last boundary to the sink, as one exchange, and starts the
    /// next. An exchange that moved no byte is still handed on: its outcome says why.
    void EndExchange(const char* name, const char* outcome);

  private:
    ExchangeSink m_sink;
    Now m_now;
    std::mutex m_mutex;
    RecordedExchange m_pending;
};

/// A console stream that passes every call to `inner` and records what was sent and received.
class RecordingByteStream : public ByteStream {
  public:
    RecordingByteStream(ByteStream& inner, TrafficRecorder& recorder)
        : m_inner(inner), m_recorder(recorder) {}

    bool Connect(const char* address, uint16_t port) override;
    int Send(const void* data, int count) override;
    int Receive(void* buffer, int capacity) override;
    int ReceiveWithin(void* buffer, int capacity, Clock::Duration limit) override;
    void Close() override;

  private:
    ByteStream& m_inner;
    TrafficRecorder& m_recorder;
};

/// A serial device that passes every call to `inner` and records what was written and read.
class RecordingSerialDevice : public SerialDevice {
  public:
    RecordingSerialDevice(SerialDevice& inner, TrafficRecorder& recorder)
        : m_inner(inner), m_recorder(recorder) {}

    PortHandle Open(std::uint32_t port, std::uint32_t baudRate, ParityCode parity,
                    std::uint8_t dataBits, StopBitsCode stopBits, FlowControlCode flow,
                    bool overlapped) override;
    void Close() override;
    bool IsOpen() const override;
    bool OpenRefused() const override;
    int Read(void* buffer, std::uint32_t count) override;
    int Write(const void* buffer, std::uint32_t count) override;
    bool Purge() override;
    bool Flush() override;
    bool SetBreak() override;
    void SetRts() override;
    void ClearDtr() override;
    bool GetTimeouts(SerialTimeouts* timeouts) override;
    bool SetTimeouts(const SerialTimeouts& timeouts) override;

  private:
    SerialDevice& m_inner;
    TrafficRecorder& m_recorder;
};

}  // namespace vantrel

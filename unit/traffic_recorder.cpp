#include "unit/traffic_recorder.h"

#include <utility>

namespace vantrel {
namespace {

void Append(std::vector<std::uint8_t>& to, const void* data, std::size_t count) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    to.insert(to.end(), bytes, bytes + count);
}

}  // namespace

TrafficRecorder::TrafficRecorder(ExchangeSink sink, Now now)
    : m_sink(std::move(sink)), m_now(std::move(now)) {
    m_pending.start = m_now();
}

void TrafficRecorder::AddSent(const void* data, std::size_t count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Append(m_pending.sent, data, count);
}

void TrafficRecorder::AddReceived(const void* data, std::size_t count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Append(m_pending.received, data, count);
}

void TrafficRecorder::EndExchange(const char* name, const char* outcome) {
    RecordedExchange done;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        done = std::move(m_pending);
        m_pending = RecordedExchange{};
        done.end = m_now();
        m_pending.start = done.end;
    }
    done.name = name ? name : "";
    done.outcome = outcome ? outcome : "";
    // Outside the lock: a slow sink (a file) must not hold up the transports.
    if (m_sink) m_sink(done);
}

bool RecordingByteStream::Connect(const char* address, uint16_t port) {
    return m_inner.Connect(address, port);
}

int RecordingByteStream::Send(const void* data, int count) {
    const int sent = m_inner.Send(data, count);
    // Only bytes the stream took count as sent; a failed send shows in the outcome.
    if (sent > 0) m_recorder.AddSent(data, static_cast<std::size_t>(sent));
    return sent;
}

int RecordingByteStream::Receive(void* buffer, int capacity) {
    const int received = m_inner.Receive(buffer, capacity);
    if (received > 0) m_recorder.AddReceived(buffer, static_cast<std::size_t>(received));
    return received;
}

int RecordingByteStream::ReceiveWithin(void* buffer, int capacity, Clock::Duration limit) {
    const int received = m_inner.ReceiveWithin(buffer, capacity, limit);
    if (received > 0) m_recorder.AddReceived(buffer, static_cast<std::size_t>(received));
    return received;
}

void RecordingByteStream::Close() { m_inner.Close(); }

PortHandle RecordingSerialDevice::Open(std::uint32_t port, std::uint32_t baudRate,
                                       ParityCode parity, std::uint8_t dataBits,
                                       StopBitsCode stopBits, FlowControlCode flow,
                                       bool overlapped) {
    return m_inner.Open(port, baudRate, parity, dataBits, stopBits, flow, overlapped);
}

void RecordingSerialDevice::Close() { m_inner.Close(); }

bool RecordingSerialDevice::IsOpen() const { return m_inner.IsOpen(); }

bool RecordingSerialDevice::OpenRefused() const { return m_inner.OpenRefused(); }

int RecordingSerialDevice::Read(void* buffer, std::uint32_t count) {
    const int got = m_inner.Read(buffer, count);
    if (got > 0) m_recorder.AddReceived(buffer, static_cast<std::size_t>(got));
    return got;
}

int RecordingSerialDevice::Write(const void* buffer, std::uint32_t count) {
    const int written = m_inner.Write(buffer, count);
    // Only what the port took went on the line.
    if (written > 0) m_recorder.AddSent(buffer, static_cast<std::size_t>(written));
    return written;
}

bool RecordingSerialDevice::Purge() { return m_inner.Purge(); }

bool RecordingSerialDevice::Flush() { return m_inner.Flush(); }

bool RecordingSerialDevice::SetBreak() { return m_inner.SetBreak(); }

void RecordingSerialDevice::SetRts() { m_inner.SetRts(); }

void RecordingSerialDevice::ClearDtr() { m_inner.ClearDtr(); }

bool RecordingSerialDevice::GetTimeouts(SerialTimeouts* timeouts) {
    return m_inner.GetTimeouts(timeouts);
}

bool RecordingSerialDevice::SetTimeouts(const SerialTimeouts& timeouts) {
    return m_inner.SetTimeouts(timeouts);
}

}  // namespace vantrel

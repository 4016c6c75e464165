#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "serial/serial_device.h"
#include "tests/support/fake_clock.h"

namespace vantrel::testing {

/// One ordered list of a test's port calls and clock pauses, as short lines:
/// "open 3", "purge", "write 04 53 57 24", "sleep 50", "read 11", "close".
using SerialTrace = std::vector<std::string>;

inline std::string HexBytes(const void* data, std::size_t count) {
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < count; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += hex;
    }
    return text;
}

/// A port that writes each call into a trace. With an inner device it forwards every call to
/// it (a real SerialPort over a pty); without one it plays a scripted port whose Open succeeds
/// unless told otherwise and whose reads hand out the queued replies, one per read.
class RecordingSerial : public SerialDevice {
  public:
    explicit RecordingSerial(SerialTrace& trace, SerialDevice* inner = nullptr)
        : m_trace(trace), m_inner(inner) {}

    void QueueReply(std::vector<unsigned char> reply) { m_replies.push_back(std::move(reply)); }
    /// refused: as a port held elsewhere; otherwise as one that is not there.
    void FailOpen(bool refused = true) {
        m_openFails = true;
        m_openRefused = refused;
    }

    PortHandle Open(std::uint32_t port, std::uint32_t baudRate, ParityCode parity,
                    std::uint8_t dataBits, StopBitsCode stopBits, FlowControlCode flow,
                    bool overlapped) override {
        m_trace.push_back("open " + std::to_string(port) + " " + std::to_string(baudRate));
        if (m_inner) {
            return m_inner->Open(port, baudRate, parity, dataBits, stopBits, flow, overlapped);
        }
        m_open = !m_openFails;
        return m_open ? 7 : kInvalidPort;
    }
    void Close() override {
        m_trace.push_back("close");
        if (m_inner) return m_inner->Close();
        m_open = false;
    }
    bool IsOpen() const override { return m_inner ? m_inner->IsOpen() : m_open; }
    bool OpenRefused() const override {
        return m_inner ? m_inner->OpenRefused() : m_openFails && m_openRefused;
    }
    int Read(void* buffer, std::uint32_t count) override {
        m_trace.push_back("read " + std::to_string(count));
        if (m_inner) return m_inner->Read(buffer, count);
        if (!m_open) return kTransferFailed;
        if (m_replies.empty()) return 0;
        std::vector<unsigned char> reply = m_replies.front();
        m_replies.pop_front();
        std::size_t n = std::min<std::size_t>(count, reply.size());
        std::memcpy(buffer, reply.data(), n);
        return static_cast<int>(n);
    }
    int Write(const void* buffer, std::uint32_t count) override {
        m_trace.push_back("write " + HexBytes(buffer, count));
        if (m_inner) return m_inner->Write(buffer, count);
        return m_open ? static_cast<int>(count) : kTransferFailed;
    }
    bool Purge() override {
        return Record("purge", [this] { return m_inner->Purge(); });
    }
    bool Flush() override {
        return Record("flush", [this] { return m_inner->Flush(); });
    }
    bool SetBreak() override {
        return Record("break", [this] { return m_inner->SetBreak(); });
    }
    void SetRts() override {
        m_trace.push_back("rts");
        if (m_inner) m_inner->SetRts();
    }
    void ClearDtr() override {
        m_trace.push_back("dtr off");
        if (m_inner) m_inner->ClearDtr();
    }
    bool GetTimeouts(SerialTimeouts* timeouts) override {
        m_trace.push_back("get timeouts");
        if (m_inner) return m_inner->GetTimeouts(timeouts);
        *timeouts = m_timeouts;
        return m_open;
    }
    bool SetTimeouts(const SerialTimeouts& timeouts) override {
        m_trace.push_back("set timeouts");
        if (m_inner) return m_inner->SetTimeouts(timeouts);
        m_timeouts = timeouts;
        return m_open;
    }

  private:
    template <typename Call>
    bool Record(const char* event, Call call) {
        m_trace.push_back(event);
        return m_inner ? call() : m_open;
    }

    SerialTrace& m_trace;
    SerialDevice* m_inner;
    std::deque<std::vector<unsigned char>> m_replies;
    bool m_open = false;
    bool m_openFails = false;
    bool m_openRefused = false;
    SerialTimeouts m_timeouts{};
};

/// A FakeClock that also writes each pause into the trace ("sleep 30").
class TracingClock : public FakeClock {
  public:
    explicit TracingClock(SerialTrace& trace) : m_trace(trace) {}
    void Sleep(Duration pause) override {
        m_trace.push_back("sleep " + std::to_string(pause.count()));
        FakeClock::Sleep(pause);
    }

  private:
    SerialTrace& m_trace;
};

}  // namespace vantrel::testing

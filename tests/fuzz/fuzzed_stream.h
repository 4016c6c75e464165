#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "unit/byte_stream.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_input.h"

namespace vantrel::fuzzing {

/// A unit's console played by the fuzz input. Each Receive takes one chunk:
///   n (0..252)   the next n bytes (0: the unit closed its side)
///   0xFD hi lo   the next hi*256+lo bytes, at most the capacity asked for
///   0xFE         the connection breaks: this receive and every later send and receive give -1
///   0xFF         -1 once (a receive that timed out)
/// An input that is used up answers -1. The bytes of the buffer that a receive did not fill
/// are poisoned until the next receive. Every line sent must be one the session may send.
class FuzzedStream : public ByteStream {
  public:
    static constexpr std::uint8_t kLong = 0xFD;
    static constexpr std::uint8_t kBreak = 0xFE;
    static constexpr std::uint8_t kTimeOut = 0xFF;

    /// isKnownLine: whether the session may send this text.
    FuzzedStream(FuzzInput& input, bool (*isKnownLine)(const std::string&))
        : m_input(input), m_isKnownLine(isKnownLine) {}

    bool Broken() const { return m_broken; }
    int Closes() const { return m_closes; }

    /// Makes the last receive buffer readable again; call before it goes away.
    void Release() {
        if (m_buffer != nullptr) Unpoison(m_buffer, m_capacity);
        m_buffer = nullptr;
    }

    bool Connect(const char* address, std::uint16_t port) override {
        Require(std::strlen(address) <= 15, "the connect address fits \"%d.%d.%d.%d\"");
        Require(port == 23, "the session connects to port 23");
        return true;
    }

    int Send(const void* data, int count) override {
        Require(data != nullptr && count > 0, "a send carries bytes");
        Require(m_isKnownLine(std::string(static_cast<const char*>(data), count)),
                "every line sent is one of the session's own, whole, with CR LF");
        return m_broken ? kTransferFailed : count;
    }

    int Receive(void* buffer, int capacity) override {
        Require(buffer != nullptr && capacity > 0, "a receive offers room");
        Release();
        const int result = NextChunk(buffer, capacity);
        m_buffer = buffer;
        m_capacity = capacity;
        PoisonUnreceived(buffer, result > 0 ? result : 0, capacity);
        return result;
    }

    void Close() override { ++m_closes; }

  private:
    int NextChunk(void* buffer, int capacity) {
        if (m_broken) return kTransferFailed;
        std::optional<std::uint8_t> header = m_input.Byte();
        if (!header || *header == kTimeOut) return kTransferFailed;
        if (*header == kBreak) {
            m_broken = true;
            return kTransferFailed;
        }
        int length = *header;
        if (*header == kLong) {
            length = m_input.ByteOr(0) << 8;
            length |= m_input.ByteOr(0);
        }
        if (length > capacity) length = capacity;
        return static_cast<int>(m_input.Take(buffer, static_cast<std::size_t>(length)));
    }

    FuzzInput& m_input;
    bool (*m_isKnownLine)(const std::string&);
    bool m_broken = false;
    int m_closes = 0;
    void* m_buffer = nullptr;
    int m_capacity = 0;
};

}  // namespace vantrel::fuzzing

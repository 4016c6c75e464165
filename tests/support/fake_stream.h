#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "unit/byte_stream.h"
#include "tests/support/fake_clock.h"

namespace vantrel::testing {

/// A scripted console connection. Replies are queued in order; every call is recorded in one
/// timeline together with the pauses the clock took between calls:
///   "connect 127.0.0.5:23", "send STA1\r\n", "pause 50", "recv 9", "close".
class FakeStream : public ByteStream {
  public:
    explicit FakeStream(FakeClock& clock) : m_clock(clock) {}

    /// Connect fails.
    void RefuseConnect() { m_refuse = true; }
    /// The next Receive delivers these bytes.
    void QueueReply(const std::string& bytes) { Queue({bytes, static_cast<int>(bytes.size())}); }
    /// The next Receive returns this result with no bytes: 0 (peer closed) or -1.
    void QueueResult(int result) { Queue({"", result}); }
    /// Sends of exactly this text return -1.
    void FailSend(const std::string& text) { m_failSend = text; }
    /// Called with each sent text, before Send returns.
    std::function<void(const std::string&)> onSend;

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        TakePauses();
        return m_events;
    }
    /// The sent texts only, in order.
    std::vector<std::string> Sent() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sent;
    }
    void ClearEvents() {
        std::lock_guard<std::mutex> lock(m_mutex);
        TakePauses();
        m_events.clear();
        m_sent.clear();
    }

    bool Connect(const char* address, uint16_t port) override {
        Record("connect " + std::string(address) + ":" + std::to_string(port));
        return !m_refuse;
    }
    int Send(const void* data, int count) override {
        std::string text(static_cast<const char*>(data), count);
        Record("send " + text);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sent.push_back(text);
        }
        if (onSend) onSend(text);
        return text == m_failSend ? kTransferFailed : count;
    }
    int Receive(void* buffer, int capacity) override {
        Reply reply{"", 0};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_replies.empty()) {
                reply = m_replies.front();
                m_replies.pop_front();
            }
        }
        int count = reply.result;
        if (count > capacity) count = capacity;
        if (count > 0) std::memcpy(buffer, reply.bytes.data(), count);
        Record("recv " + std::to_string(count));
        return count;
    }
    int ReceiveWithin(void* buffer, int capacity, Clock::Duration limit) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_limits.push_back(limit.count());
        }
        return Receive(buffer, capacity);
    }
    /// The time limits that ReceiveWithin was given, in order.
    std::vector<long long> Limits() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_limits;
    }
    void Close() override { Record("close"); }

  private:
    struct Reply {
        std::string bytes;
        int result;
    };

    void Queue(Reply reply) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies.push_back(reply);
    }
    void Record(const std::string& event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        TakePauses();
        m_events.push_back(event);
    }
    void TakePauses() {
        std::vector<long long> pauses = m_clock.Pauses();
        for (size_t i = m_pausesSeen; i < pauses.size(); ++i) {
            m_events.push_back("pause " + std::to_string(pauses[i]));
        }
        m_pausesSeen = pauses.size();
    }

    FakeClock& m_clock;
    std::mutex m_mutex;
    bool m_refuse = false;
    std::vector<long long> m_limits;
    std::string m_failSend;
    std::deque<Reply> m_replies;
    std::vector<std::string> m_events;
    std::vector<std::string> m_sent;
    size_t m_pausesSeen = 0;
};

}  // namespace vantrel::testing

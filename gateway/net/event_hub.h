#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel::gateway {

/// One client's stream of events, in the Server-Sent Events format.
class Subscription {
  public:
    /// Queues one event; a client that falls this far behind is dropped.
    void Push(const std::string& text);
    /// The next event, or an empty text when `wait` passes first; false once closed.
    bool Next(std::string& text, std::chrono::milliseconds wait);
    void Close();
    /// Called, on the pushing or closing thread, whenever an event is queued or the stream
    /// closes: the network core then takes what is there without a thread waiting in Next.
    void SetWake(std::function<void()> wake);

  private:
    void Wake();

    static constexpr std::size_t kMostPending = 1024;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::function<void()> m_wake;
    std::deque<std::string> m_pending;
    bool m_closed = false;
};

/// Fans each event out to every open stream. Closing the hub ends every stream, so that the
/// server's shutdown never waits on a client that keeps its stream open.
class EventHub {
  public:
    /// Each open stream costs a socket and a queue of pending events, so their number is bounded.
    explicit EventHub(std::size_t mostStreams) : m_mostStreams(mostStreams) {}

    /// A new stream; null when `mostStreams` are open already.
    std::shared_ptr<Subscription> Subscribe();
    void Publish(const std::string& event, const std::string& data);
    void Close();

    /// One event as the stream carries it.
    static std::string Format(const std::string& event, const std::string& data);

  private:
    void DropGone();  // under m_mutex

    const std::size_t m_mostStreams;
    std::mutex m_mutex;
    bool m_closed = false;
    std::vector<std::weak_ptr<Subscription>> m_subscriptions;
};

}  // namespace vantrel::gateway

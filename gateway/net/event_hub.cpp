#include "gateway/net/event_hub.h"

#include <algorithm>

namespace vantrel::gateway {

void Subscription::Push(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) return;
        if (m_pending.size() >= kMostPending) {
            m_closed = true;
        } else {
            m_pending.push_back(text);
        }
    }
    m_ready.notify_all();
    Wake();
}

bool Subscription::Next(std::string& text, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ready.wait_for(lock, wait, [&] { return m_closed || !m_pending.empty(); });
    if (m_closed) return false;
    text.clear();
    if (!m_pending.empty()) {
        text = std::move(m_pending.front());
        m_pending.pop_front();
    }
    return true;
}

void Subscription::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_ready.notify_all();
    Wake();
}

void Subscription::SetWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake = std::move(wake);
}

void Subscription::Wake() {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        wake = m_wake;
    }
    if (wake) wake();
}

std::shared_ptr<Subscription> EventHub::Subscribe() {
    auto subscription = std::make_shared<Subscription>();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) {
        subscription->Close();
        return subscription;
    }
    DropGone();
    if (m_subscriptions.size() >= m_mostStreams) return nullptr;
    m_subscriptions.push_back(subscription);
    return subscription;
}

void EventHub::Publish(const std::string& event, const std::string& data) {
    const std::string text = Format(event, data);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subscriptions.erase(
        std::remove_if(m_subscriptions.begin(), m_subscriptions.end(),
                       [](const std::weak_ptr<Subscription>& s) { return s.expired(); }),
        m_subscriptions.end());
    for (const std::weak_ptr<Subscription>& weak : m_subscriptions) {
        if (auto subscription = weak.lock()) subscription->Push(text);
    }
}

void EventHub::DropGone() {
    m_subscriptions.erase(
        std::remove_if(m_subscriptions.begin(), m_subscriptions.end(),
                       [](const std::weak_ptr<Subscription>& s) { return s.expired(); }),
        m_subscriptions.end());
}

void EventHub::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    for (const std::weak_ptr<Subscription>& weak : m_subscriptions) {
        if (auto subscription = weak.lock()) subscription->Close();
    }
}

std::string EventHub::Format(const std::string& event, const std::string& data) {
    return "event: " + event + "\ndata: " + data + "\n\n";
}

}  // namespace vantrel::gateway

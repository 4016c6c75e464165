#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/handles.h"
#include "app/sent_message_wait.h"
#include "tests/windows/message_window.h"

namespace vantrel {
namespace sent_message_wait_test {
namespace {

constexpr UINT kSent = WM_APP;
constexpr UINT kPosted = WM_APP + 1;

/// A window of the test thread, a worker that sends to it (as the network session updates
/// the panel's controls), and a posted message that stands for a click made meanwhile.
class SentMessageWaitTest : public ::testing::Test {
  protected:
    ~SentMessageWaitTest() override {
        if (m_worker.joinable()) {
            m_worker.join();
        }
        MSG msg;
        while (PeekMessageA(&msg, m_window.Get(), 0, 0, PM_REMOVE)) {
        }
    }

    /// Sends kSent from another thread after delayMs; gives up after 3 s rather than hang.
    void SendFromWorker(DWORD delayMs) {
        m_worker = std::thread([this, delayMs] {
            Sleep(delayMs);
            DWORD_PTR reply = 0;
            m_bSendCompleted =
                SendMessageTimeoutA(m_window.Get(), kSent, 0, 0, SMTO_NORMAL, 3000, &reply) != 0;
            SetEvent(m_hSendDone.Get());
        });
    }

    bool PostedStillQueued() {
        MSG msg;
        return PeekMessageA(&msg, m_window.Get(), kPosted, kPosted, PM_NOREMOVE) != FALSE;
    }

    static long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    }

    std::atomic<int> m_nSentDelivered{0};
    std::atomic<int> m_nPostedDelivered{0};
    std::atomic<bool> m_bSendCompleted{false};
    UniqueHandle m_hSendDone{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    testing::MessageWindow m_window{[this](UINT msg, WPARAM, LPARAM) {
        if (msg == kSent) ++m_nSentDelivered;
        if (msg == kPosted) ++m_nPostedDelivered;
    }};
    std::thread m_worker;
};

TEST_F(SentMessageWaitTest, DeliversAnotherThreadsSendWhilePostedMessagesWait) {
    PostMessageA(m_window.Get(), kPosted, 0, 0);
    SendFromWorker(50);
    auto start = std::chrono::steady_clock::now();

    EXPECT_TRUE(WaitDeliveringSentMessages(5000, m_hSendDone.Get()));

    EXPECT_LT(MillisecondsSince(start), 2000);
    EXPECT_TRUE(m_bSendCompleted);
    EXPECT_EQ(m_nSentDelivered, 1);
    EXPECT_EQ(m_nPostedDelivered, 0);
    EXPECT_TRUE(PostedStillQueued());
}

TEST_F(SentMessageWaitTest, TimedWaitDeliversSendsAndLastsItsTime) {
    PostMessageA(m_window.Get(), kPosted, 0, 0);  // neither ends the wait nor is delivered
    SendFromWorker(30);
    auto start = std::chrono::steady_clock::now();

    EXPECT_FALSE(WaitDeliveringSentMessages(300));

    long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 280);
    EXPECT_LT(elapsed, 1500);
    m_worker.join();
    EXPECT_TRUE(m_bSendCompleted);
    EXPECT_EQ(m_nSentDelivered, 1);
    EXPECT_EQ(m_nPostedDelivered, 0);
    EXPECT_TRUE(PostedStillQueued());
}

TEST_F(SentMessageWaitTest, SignalledEventEndsTheWaitAtOnce) {
    SetEvent(m_hSendDone.Get());
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitDeliveringSentMessages(5000, m_hSendDone.Get()));
    EXPECT_LT(MillisecondsSince(start), 1000);
}

}  // namespace
}  // namespace sent_message_wait_test
}  // namespace vantrel

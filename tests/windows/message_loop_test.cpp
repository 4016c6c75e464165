#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/message_loop.h"
#include "tests/windows/loop_watchdog.h"
#include "tests/windows/message_window.h"

namespace vantrel {
namespace message_loop_test {
namespace {

using Log = std::vector<std::string>;

/// Logs each message of one kind it is asked about; consumes it when told to.
class RecordingFilter : public CMessageFilter {
  public:
    RecordingFilter(std::string name, UINT watched, Log& log, bool consume = false)
        : m_name(std::move(name)), m_watched(watched), m_log(log), m_consume(consume) {}
    bool FilterMessage(MSG* pMsg) override {
        if (pMsg->message != m_watched) {
            return false;
        }
        m_log.push_back(m_name);
        return m_consume;
    }

  private:
    std::string m_name;
    UINT m_watched;
    Log& m_log;
    bool m_consume;
};

std::string Describe(UINT msg, WPARAM wParam) {
    switch (msg) {
        case WM_KEYDOWN:
            return "keydown";
        case WM_CHAR:
            return std::string("char ") + static_cast<char>(wParam);
        default:
            return "other";
    }
}

class MessageLoopTest : public ::testing::Test {
  protected:
    // Keys reach the window through the loop; the log shows what was dispatched.
    testing::MessageWindow m_window{[this](UINT msg, WPARAM wParam, LPARAM) {
        if (msg == WM_KEYDOWN || msg == WM_CHAR || msg == WM_APP) {
            m_log.push_back("window " + Describe(msg, wParam));
        }
    }};
    Log m_log;
    CMessageLoop m_loop;
    testing::LoopWatchdog m_watchdog;
};

TEST_F(MessageLoopTest, FiltersAreAskedNewestFirstThenTheKeyIsTranslatedAndDispatched) {
    RecordingFilter first("first", WM_KEYDOWN, m_log);
    RecordingFilter second("second", WM_KEYDOWN, m_log);
    RecordingFilter third("third", WM_KEYDOWN, m_log);
    m_loop.AddFilter(&first);
    m_loop.AddFilter(&second);
    m_loop.AddFilter(&third);

    PostMessageA(m_window.Get(), WM_KEYDOWN, 'A', 0x001E0001);
    PostQuitMessage(3);

    EXPECT_EQ(m_loop.RunLoop(), 3);
    EXPECT_EQ(m_log, (Log{"third", "second", "first", "window keydown", "window char a"}));
}

TEST_F(MessageLoopTest, ConsumingFilterStopsOlderFiltersTranslationAndDispatch) {
    RecordingFilter oldest("oldest", WM_KEYDOWN, m_log);
    RecordingFilter consumer("consumer", WM_KEYDOWN, m_log, true);
    RecordingFilter newest("newest", WM_KEYDOWN, m_log);
    m_loop.AddFilter(&oldest);
    m_loop.AddFilter(&consumer);
    m_loop.AddFilter(&newest);

    PostMessageA(m_window.Get(), WM_KEYDOWN, 'A', 0x001E0001);
    PostQuitMessage(0);

    EXPECT_EQ(m_loop.RunLoop(), 0);
    EXPECT_EQ(m_log, (Log{"newest", "consumer"}));  // no "window keydown", no "char a"
}

TEST_F(MessageLoopTest, RemovedFilterIsNoLongerAsked) {
    RecordingFilter kept("kept", WM_APP, m_log);
    RecordingFilter removed("removed", WM_APP, m_log);
    m_loop.AddFilter(&kept);
    m_loop.AddFilter(&removed);
    EXPECT_TRUE(m_loop.RemoveFilter(&removed));
    EXPECT_FALSE(m_loop.RemoveFilter(&removed));

    PostMessageA(m_window.Get(), WM_APP, 0, 0);
    PostQuitMessage(0);
    m_loop.RunLoop();

    EXPECT_EQ(m_log, (Log{"kept", "window other"}));
}

/// A dialog that closes on a message takes its filter out while the loop is asking it.
class SelfRemovingFilter : public CMessageFilter {
  public:
    SelfRemovingFilter(CMessageLoop& loop, Log& log) : m_loop(loop), m_log(log) {}
    bool FilterMessage(MSG* pMsg) override {
        if (pMsg->message == WM_APP) {
            m_log.push_back("self-removing");
            m_loop.RemoveFilter(this);
        }
        return false;
    }

  private:
    CMessageLoop& m_loop;
    Log& m_log;
};

TEST_F(MessageLoopTest, FilterThatRemovesItselfLetsTheOlderFiltersSeeTheMessage) {
    RecordingFilter older("older", WM_APP, m_log);
    SelfRemovingFilter newer(m_loop, m_log);
    m_loop.AddFilter(&older);
    m_loop.AddFilter(&newer);

    PostMessageA(m_window.Get(), WM_APP, 0, 0);
    PostMessageA(m_window.Get(), WM_APP, 0, 0);
    PostQuitMessage(0);
    m_loop.RunLoop();

    EXPECT_EQ(m_log, (Log{"self-removing", "older", "window other", "older", "window other"}));
}

/// Drives the idle test: each idle call posts the next scripted message (or the quit).
/// After a message that must not start an idle phase, a short thread timer is armed: its
/// WM_TIMER does start one, so the script goes on either way and the log shows whether
/// an idle call came between the message and the timer.
class ScriptedIdle : public CIdleHandler, public CMessageFilter {
  public:
    struct Step {
        UINT message;
        const char* name;
    };

    ScriptedIdle(HWND window, std::vector<Step> script, Log& log)
        : m_hWnd(window), m_script(std::move(script)), m_log(log) {}

    bool HandleIdle() override {
        m_log.push_back("idle");
        if (m_next < m_script.size()) {
            PostMessageA(m_hWnd, m_script[m_next++].message, 0, 0);
        } else {
            PostQuitMessage(5);
        }
        return true;  // the loop ignores the result: one call per idle phase regardless
    }

    bool FilterMessage(MSG* pMsg) override {
        if (pMsg->message == WM_TIMER && pMsg->wParam == m_nTimer) {
            KillTimer(nullptr, m_nTimer);
            m_nTimer = 0;
            m_log.push_back("timer");
            return false;
        }
        for (const Step& step : m_script) {
            if (pMsg->hwnd == m_hWnd && pMsg->message == step.message) {
                m_log.push_back(step.name);
                if (!CMessageLoop::IsIdleMessage(*pMsg)) {
                    m_nTimer = SetTimer(nullptr, 0, 20, nullptr);
                }
                // Consumed: the default window procedure has no business with these.
                return true;
            }
        }
        return false;
    }

  private:
    HWND m_hWnd;
    std::vector<Step> m_script;
    Log& m_log;
    size_t m_next = 0;
    UINT_PTR m_nTimer = 0;
};

TEST_F(MessageLoopTest, IdleHandlersRunOncePerIdlePhaseAndNotAfterMouseMovesPaintOrSystemTimer) {
    ScriptedIdle script(m_window.Get(),
                        {{WM_KEYUP, "key"},
                         {WM_MOUSEMOVE, "mousemove"},
                         {WM_NCMOUSEMOVE, "ncmousemove"},
                         {WM_PAINT, "paint"},
                         {0x0118, "systimer"},
                         {WM_APP, "app"}},
                        m_log);
    m_loop.AddFilter(&script);
    m_loop.AddIdle(&script);

    EXPECT_EQ(m_loop.RunLoop(), 5);
    EXPECT_EQ(m_log,
              (Log{"idle", "key", "idle", "mousemove", "timer", "idle", "ncmousemove", "timer",
                   "idle", "paint", "timer", "idle", "systimer", "timer", "idle", "app", "idle"}));
}

class CountingIdle : public CIdleHandler {
  public:
    CountingIdle(std::string name, Log& log) : m_name(std::move(name)), m_log(log) {}
    bool HandleIdle() override {
        m_log.push_back(m_name);
        return false;
    }

  private:
    std::string m_name;
    Log& m_log;
};

TEST_F(MessageLoopTest, EveryIdleHandlerIsCalledInTheOrderAdded) {
    CountingIdle first("first idle", m_log);
    CountingIdle second("second idle", m_log);
    CountingIdle removed("removed idle", m_log);
    m_loop.AddIdle(&first);
    m_loop.AddIdle(&removed);
    m_loop.AddIdle(&second);
    EXPECT_TRUE(m_loop.RemoveIdle(&removed));
    EXPECT_FALSE(m_loop.RemoveIdle(&removed));

    UINT_PTR timer =
        SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(9); });
    EXPECT_EQ(m_loop.RunLoop(), 9);
    KillTimer(nullptr, timer);

    // The start's idle phase only: the timer message that posts the quit finds the quit
    // waiting, so the phase it starts never reaches the handlers.
    EXPECT_EQ(m_log, (Log{"first idle", "second idle"}));
}

}  // namespace
}  // namespace message_loop_test
}  // namespace vantrel

#pragma once

#include <windows.h>

#include <functional>

namespace vantrel::testing {

/// A message-only window that shows every message it receives to an observer, for tests of
/// loops and waits. The default window procedure then handles the message.
class MessageWindow {
  public:
    using Observer = std::function<void(UINT msg, WPARAM wParam, LPARAM lParam)>;

    explicit MessageWindow(Observer observer) : m_observer(std::move(observer)) {
        static const char* kClass = [] {
            WNDCLASSA wc{};
            wc.lpfnWndProc = WindowProc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "VantrelTestMessageWindow";
            RegisterClassA(&wc);
            return wc.lpszClassName;
        }();
        m_hWnd = CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleA(nullptr), this);
    }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    ~MessageWindow() { DestroyWindow(m_hWnd); }

    HWND Get() const { return m_hWnd; }

  private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(hWnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        if (self) {
            self->m_observer(msg, wParam, lParam);
        }
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }

    Observer m_observer;
    HWND m_hWnd;
};

}  // namespace vantrel::testing

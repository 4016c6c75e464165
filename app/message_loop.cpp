#include "app/message_loop.h"

#include <algorithm>

namespace vantrel {
namespace {

constexpr UINT kSystemTimer = 0x0118;

template <class T>
bool RemoveFrom(std::vector<T*>& list, T* item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end()) {
        return false;
    }
    list.erase(it);
    return true;
}

}  // namespace

void CMessageLoop::AddFilter(CMessageFilter* filter) { m_filters.push_back(filter); }

bool CMessageLoop::RemoveFilter(CMessageFilter* filter) { return RemoveFrom(m_filters, filter); }

void CMessageLoop::AddIdle(CIdleHandler* handler) { m_idleHandlers.push_back(handler); }

bool CMessageLoop::RemoveIdle(CIdleHandler* handler) { return RemoveFrom(m_idleHandlers, handler); }

int CMessageLoop::RunLoop() {
    bool idle = true;
    int idleCount = 0;
    for (;;) {
        while (idle && !PeekMessageA(&m_msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!DispatchIdle(idleCount++)) {
                idle = false;
            }
        }
        BOOL got = GetMessageA(&m_msg, nullptr, 0, 0);
        if (got == -1) {
            continue;  // a failed read: wait for the next message
        }
        if (!got) {
            return static_cast<int>(m_msg.wParam);
        }
        if (!DispatchToFilters(&m_msg)) {
            TranslateMessage(&m_msg);
            DispatchMessageA(&m_msg);
        }
        if (IsIdleMessage(m_msg)) {
            idle = true;
            idleCount = 0;
        }
    }
}

bool CMessageLoop::IsIdleMessage(const MSG& msg) {
    switch (msg.message) {
        case WM_MOUSEMOVE:
        case WM_NCMOUSEMOVE:
        case WM_PAINT:
        case kSystemTimer:
            return false;
        default:
            return true;
    }
}

bool CMessageLoop::DispatchToFilters(MSG* pMsg) {
    // By index, re-checked each step: a filter may take itself out (a dialog that closes on
    // this very message) without the walk touching a removed entry.
    for (size_t i = m_filters.size(); i > 0; --i) {
        if (i <= m_filters.size() && m_filters[i - 1]->FilterMessage(pMsg)) {
            return true;
        }
    }
    return false;
}

bool CMessageLoop::DispatchIdle(int /*idleCount*/) {
    for (size_t i = 0; i < m_idleHandlers.size(); ++i) {
        m_idleHandlers[i]->HandleIdle();
    }
    return false;
}

}  // namespace vantrel

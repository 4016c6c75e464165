#include "app/dialog.h"

#include "app/app_module.h"

namespace vantrel {
namespace {

// The dialog being created on this thread. The dialog procedure binds it to the new
// window on the first message, so the creation parameter stays free (0).
thread_local CDialog* t_creating = nullptr;

// Messages whose result the dialog procedure returns itself instead of through
// DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT msg) {
    switch (msg) {
        case WM_CHARTOITEM:
        case WM_COMPAREITEM:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_VKEYTOITEM:
            return true;
        default:
            return false;
    }
}

// Sets t_creating for one creation call and clears it even when no message came.
class CreationScope {
  public:
    explicit CreationScope(CDialog* dialog) : m_previous(t_creating) { t_creating = dialog; }
    CreationScope(const CreationScope&) = delete;
    CreationScope& operator=(const CreationScope&) = delete;
    ~CreationScope() { t_creating = m_previous; }

  private:
    CDialog* m_previous;
};

}  // namespace

CDialog::~CDialog() {
    if (m_hWnd) {
        // The derived part is gone already: unbind first, so the window's last messages go
        // to the default processing and not to a map that no longer exists.
        ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

HWND CDialog::Create(HWND parent, int templateId) {
    if (m_hWnd) {
        return nullptr;
    }
    CreationScope scope(this);
    return CreateDialogParamA(g_module.GetInstance(), MAKEINTRESOURCEA(templateId), parent,
                              DialogProc, 0);
}

HWND CDialog::Create(HWND parent, const DLGTEMPLATE* dialogTemplate) {
    if (m_hWnd) {
        return nullptr;
    }
    CreationScope scope(this);
    return CreateDialogIndirectParamA(g_module.GetInstance(), dialogTemplate, parent, DialogProc,
                                      0);
}

INT_PTR CDialog::DoModal(HWND parent, int templateId) {
    if (m_hWnd) {
        return -1;
    }
    CreationScope scope(this);
    return DialogBoxParamA(g_module.GetInstance(), MAKEINTRESOURCEA(templateId), parent, DialogProc,
                           0);
}

INT_PTR CDialog::DoModal(HWND parent, const DLGTEMPLATE* dialogTemplate) {
    if (m_hWnd) {
        return -1;
    }
    CreationScope scope(this);
    return DialogBoxIndirectParamA(g_module.GetInstance(), dialogTemplate, parent, DialogProc, 0);
}

bool CDialog::DestroyWindow() { return ::DestroyWindow(m_hWnd) != FALSE; }

bool CDialog::EndDialog(INT_PTR result) { return ::EndDialog(m_hWnd, result) != FALSE; }

HWND CDialog::GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

bool CDialog::SetDlgItemText(int id, const char* text) {
    return ::SetDlgItemTextA(m_hWnd, id, text) != FALSE;
}

bool CDialog::CheckDlgButton(int id, UINT check) {
    return ::CheckDlgButton(m_hWnd, id, check) != FALSE;
}

bool CDialog::EnableDlgItem(int id, bool enable) {
    HWND item = GetDlgItem(id);
    if (!item) {
        return false;
    }
    ::EnableWindow(item, enable);
    return true;
}

bool CDialog::ShowDlgItem(int id, bool show) {
    HWND item = GetDlgItem(id);
    if (!item) {
        return false;
    }
    ::ShowWindow(item, show ? SW_SHOW : SW_HIDE);
    return true;
}

LRESULT CDialog::SendDlgItemMessage(int id, UINT msg, WPARAM wParam, LPARAM lParam) {
    return ::SendDlgItemMessageA(m_hWnd, id, msg, wParam, lParam);
}

bool CDialog::CenterWindow() {
    RECT window{};
    if (!::GetWindowRect(m_hWnd, &window)) {
        return false;
    }
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!::GetMonitorInfoA(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return false;
    }
    const RECT& work = monitor.rcWork;
    RECT area = work;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
        ::GetWindowRect(owner, &area);
    }
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    int left = (area.left + area.right - width) / 2;
    int top = (area.top + area.bottom - height) / 2;
    // Keep the whole window on the work area where it fits.
    if (left + width > work.right) left = work.right - width;
    if (left < work.left) left = work.left;
    if (top + height > work.bottom) top = work.bottom - height;
    if (top < work.top) top = work.top;
    return ::SetWindowPos(m_hWnd, nullptr, left, top, 0, 0,
                          SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

void CDialog::SetIcon(HICON icon, bool big) {
    ::SendMessageA(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
    if (!self) {
        self = t_creating;
        if (!self) {
            return FALSE;
        }
        t_creating = nullptr;  // bound: a dialog created by one of its handlers is not it
        self->m_hWnd = hWnd;
        ::SetWindowLongPtrA(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    }
    LRESULT result = 0;
    bool handled = self->ProcessWindowMessage(hWnd, uMsg, wParam, lParam, result);
    if (uMsg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hWnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    if (!handled) {
        return FALSE;
    }
    if (ReturnsResultDirectly(uMsg)) {
        return static_cast<INT_PTR>(result);
    }
    ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace vantrel

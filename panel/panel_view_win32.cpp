#include "panel/panel_view_win32.h"

#include <commctrl.h>

#include "app/app_module.h"
#include "app/sent_message_wait.h"
#include "link/refresh_panel.h"

namespace vantrel {

namespace {

// Mapped to the system's 3-D colours, as the pictures were drawn on the dialog's grey.
HBITMAP LoadPicture(int bitmap) {
    return static_cast<HBITMAP>(LoadImageA(g_module.GetInstance(), MAKEINTRESOURCEA(bitmap),
                                           IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
}

}  // namespace

Win32PanelView::Win32PanelView(const CDialog& dialog, PanelState& state)
    : m_dialog(dialog), m_state(state) {}

LRESULT Win32PanelView::Send(int control, UINT msg, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageA(Window(), control, msg, wParam, lParam);
}

HBITMAP Win32PanelView::PutPicture(int control, HBITMAP image) {
    return reinterpret_cast<HBITMAP>(
        Send(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image)));
}

void Win32PanelView::SetText(int control, const char* text) {
    SetDlgItemTextA(Window(), control, text);
}

void Win32PanelView::SetBarPos(int bar, int32_t pos) { Send(bar, PBM_SETPOS, pos, 0); }

uint32_t Win32PanelView::GetAddress(int control) {
    DWORD address = 0;  // blank fields read as 0
    Send(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    return address;
}

void Win32PanelView::SetAddress(int control, uint32_t address) {
    Send(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

void Win32PanelView::EnableControl(int control, bool enable) {
    EnableWindow(GetDlgItem(Window(), control), enable);
}

void Win32PanelView::CheckRadio(int control, bool checked) {
    Send(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32PanelView::SetPicture(int control, int bitmap) {
    HBITMAP replaced = PutPicture(control, LoadPicture(bitmap));
    if (replaced) DeleteObject(replaced);
}

ImageHandle Win32PanelView::SwapInPicture(int control, int bitmap) {
    return static_cast<ImageHandle>(
        reinterpret_cast<std::uintptr_t>(PutPicture(control, LoadPicture(bitmap))));
}

void Win32PanelView::RestorePicture(int control, ImageHandle shown) {
    HBITMAP swappedIn =
        PutPicture(control, reinterpret_cast<HBITMAP>(static_cast<std::uintptr_t>(shown)));
    if (swappedIn) DeleteObject(swappedIn);
}

void Win32PanelView::ShowMessage(const char* text) { MessageBoxA(Window(), text, "", MB_OK); }

void Win32PanelView::RefreshPanel() { vantrel::RefreshPanel(m_state, *this); }

void Win32PanelView::WaitForSession(Clock::Duration step) {
    WaitDeliveringSentMessages(static_cast<DWORD>(step.count()));
}

}  // namespace vantrel

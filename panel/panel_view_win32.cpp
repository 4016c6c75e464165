#include "panel/panel_view_win32.h"

#include <commctrl.h>

#include "app/app_module.h"
#include "app/scaled_bitmap.h"
#include "app/sent_message_wait.h"
#include "panel/accessible_controls.h"
#include "panel/control_names.h"
#include "presenters/control_ids.h"
#include "presenters/refresh_panel.h"

namespace vantrel {

namespace {

HBITMAP ToBitmap(ImageHandle image) {
    return reinterpret_cast<HBITMAP>(static_cast<std::uintptr_t>(image));
}

ImageHandle ToImage(HBITMAP bitmap) {
    return static_cast<ImageHandle>(reinterpret_cast<std::uintptr_t>(bitmap));
}

bool IsPictureControl(HWND control) {
    char className[16] = {};
    GetClassNameA(control, className, sizeof className);
    return lstrcmpiA(className, "Static") == 0 &&
           (GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
}

template <typename Visit>
void ForEachPicture(HWND window, Visit visit) {
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsPictureControl(child)) visit(child);
    }
}

}  // namespace

Win32PanelView::Win32PanelView(const CDialog& dialog) : m_dialog(dialog) {}

LRESULT Win32PanelView::Send(int control, UINT msg, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageA(Window(), control, msg, wParam, lParam);
}

HBITMAP Win32PanelView::LoadPicture(int bitmap) {
    HBITMAP loaded =
        LoadBitmapForDpi(g_module.GetInstance(), bitmap, IDB_DOUBLE_SCALE_OFFSET, m_nDpi);
    if (loaded) {
        ++m_nLiveBitmaps;
        std::lock_guard<std::mutex> lock(m_idsLock);
        m_ids[loaded] = bitmap;
    }
    return loaded;
}

void Win32PanelView::Free(HBITMAP bitmap) {
    if (!bitmap) return;
    {
        std::lock_guard<std::mutex> lock(m_idsLock);
        m_ids.erase(bitmap);
    }
    DeleteObject(bitmap);
    --m_nLiveBitmaps;
}

int Win32PanelView::BitmapId(HBITMAP bitmap) {
    std::lock_guard<std::mutex> lock(m_idsLock);
    auto found = m_ids.find(bitmap);
    return found == m_ids.end() ? 0 : found->second;
}

HBITMAP Win32PanelView::PutPicture(int control, HBITMAP image) {
    HWND item = GetDlgItem(Window(), control);
    if (!item) {
        Free(image);
        return nullptr;
    }
    auto previous = reinterpret_cast<HBITMAP>(
        SendMessageA(item, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image)));
    if (const int id = BitmapId(image)) NamePicture(item, id);
    return previous;
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

void Win32PanelView::ShowControl(int control, bool show) {
    ShowWindow(GetDlgItem(Window(), control), show ? SW_SHOW : SW_HIDE);
}

void Win32PanelView::CheckRadio(int control, bool checked) {
    Send(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32PanelView::SetPicture(int control, int bitmap) {
    Free(PutPicture(control, LoadPicture(bitmap)));
}

ImageHandle Win32PanelView::SwapInPicture(int control, int bitmap) {
    return ToImage(PutPicture(control, LoadPicture(bitmap)));
}

void Win32PanelView::RestorePicture(int control, ImageHandle shown) {
    Free(PutPicture(control, ToBitmap(shown)));
}

void Win32PanelView::DeleteImage(ImageHandle image) { Free(ToBitmap(image)); }

int32_t Win32PanelView::ComSelection() {
    return static_cast<int32_t>(Send(kComPortList, CB_GETCURSEL, 0, 0));
}

void Win32PanelView::ShowWaitCursor(bool wait) {
    SetCursor(LoadCursorA(nullptr, wait ? IDC_WAIT : IDC_ARROW));
}

void Win32PanelView::ShowMessage(const char* text) { MessageBoxA(Window(), text, "", MB_OK); }

void Win32PanelView::WaitForSession(Clock::Duration step) {
    WaitDeliveringSentMessages(static_cast<DWORD>(step.count()), m_wake.Get());
}

void Win32PanelView::WakeWait() { SetEvent(m_wake.Get()); }

void Win32PanelView::CountTemplatePictures() {
    ForEachPicture(Window(), [this](HWND picture) {
        if (SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)) ++m_nLiveBitmaps;
    });
}

void Win32PanelView::ShowAtDpi(int dpi) {
    m_nDpi = dpi;
    ForEachPicture(Window(), [this](HWND picture) {
        const int control = GetDlgCtrlID(picture);
        int shown = BitmapId(
            reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)));
        if (shown == 0) {
            const PictureName* name = FindPictureName(control);
            if (!name) return;
            shown = name->normalBitmap;  // still the template's
        }
        SetPicture(control, shown);
    });
}

void Win32PanelView::FreePictures() {
    ForEachPicture(Window(), [this](HWND picture) {
        Free(reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, 0)));
    });
}

}  // namespace vantrel

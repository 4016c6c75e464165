#pragma once

#include <windows.h>

#include "app/handles.h"

namespace vantrel {

/// Copies the whole of bitmap onto the rectangle (0, 0, width, height) of dc, stretched
/// to fit; false when the bitmap cannot be read or the copy fails.
bool StretchBitmapOnto(HDC dc, HBITMAP bitmap, int width, int height);

/// Paints a dialog's background with one bitmap stretched over its client area. T is the
/// dialog class (it has m_hWnd); its message map routes WM_ERASEBKGND to OnEraseBkgnd.
template <class T>
class CBitmapBkgnd {
  public:
    /// Takes ownership of the bitmap.
    explicit CBitmapBkgnd(HBITMAP bitmap) : m_hBkgndBmp(bitmap) {}

    LRESULT OnEraseBkgnd(UINT /*uMsg*/, WPARAM wParam, LPARAM /*lParam*/, bool& bHandled) {
        RECT client{};
        GetClientRect(static_cast<T*>(this)->m_hWnd, &client);
        // Without a bitmap the dialog's own erase runs, so no stale pixels stay behind.
        bHandled = StretchBitmapOnto(reinterpret_cast<HDC>(wParam), m_hBkgndBmp.Get(),
                                     client.right - client.left, client.bottom - client.top);
        return 1;
    }

  protected:
    BitmapHandle m_hBkgndBmp;
};

}  // namespace vantrel

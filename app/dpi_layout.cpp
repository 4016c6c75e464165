#include "app/dpi_layout.h"

namespace vantrel {

void DpiLayout::Capture(HWND dialog, int dpi) {
    m_nDpi = dpi;
    m_controls.clear();
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        m_controls.push_back({child, rect});
    }
    auto font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    GetObjectA(font, sizeof m_font, &m_font);
}

void DpiLayout::Apply(HWND dialog, int dpi, const RECT& windowRect) {
    SetWindowPos(dialog, nullptr, windowRect.left, windowRect.top,
                 windowRect.right - windowRect.left, windowRect.bottom - windowRect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    LOGFONTA scaled = m_font;
    scaled.lfHeight = MulDiv(m_font.lfHeight, dpi, m_nDpi);
    FontHandle font(CreateFontIndirectA(&scaled));
    auto at = [&](LONG value) { return MulDiv(value, dpi, m_nDpi); };
    for (const Placement& placement : m_controls) {
        const RECT& r = placement.rect;
        SetWindowPos(placement.control, nullptr, at(r.left), at(r.top), at(r.right) - at(r.left),
                     at(r.bottom) - at(r.top), SWP_NOZORDER | SWP_NOACTIVATE);
        if (font)
            SendMessageA(placement.control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()),
                         FALSE);
    }
    m_hFont = std::move(font);  // the old one goes once no control uses it
    InvalidateRect(dialog, nullptr, TRUE);
}

}  // namespace vantrel

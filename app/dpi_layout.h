#pragma once

#include <windows.h>

#include <vector>

#include "app/handles.h"

namespace vantrel {

/// A dialog's layout as the dialog manager made it at one DPI, laid out again at another when
/// the window moves to a monitor of another scale (WM_DPICHANGED): every control's place and
/// size and the dialog's font scale by the same ratio, always from the first layout, so going
/// back and forth leaves no rounding behind. Controls that size themselves to their content
/// (pictures) are sized again by whoever changes the content.
class DpiLayout {
  public:
    /// Records the dialog's controls, in z-order, and its font as they are now, at dpi.
    void Capture(HWND dialog, int dpi);
    /// Puts the window at windowRect (the system's suggestion) and lays out for dpi.
    void Apply(HWND dialog, int dpi, const RECT& windowRect);

  private:
    struct Placement {
        HWND control;
        RECT rect;  // in the dialog's client coordinates
    };
    std::vector<Placement> m_controls;
    LOGFONTA m_font{};
    int m_nDpi = 96;
    FontHandle m_hFont;  // the font at the current DPI, once it differs from the first
};

}  // namespace vantrel

#pragma once

#include <windows.h>

namespace vantrel {

/// The DPI that window is shown at: its monitor's for a per-monitor aware program on Windows
/// 10, the system's where GetDpiForWindow is missing (older Windows).
int WindowDpi(HWND window);

/// value in pixels at 96 dpi, at dpi.
inline int ScaleToDpi(int value, int dpi) { return MulDiv(value, dpi, 96); }

}  // namespace vantrel

#pragma once

#include <windows.h>

namespace vantrel {

/// The DPI that window is shown at: its monitor's for a per-monitor aware program on Windows
/// 10, the system's where GetDpiForWindow is missing (older Windows).
int WindowDpi(HWND window);

}  // namespace vantrel

#pragma once

#include <windows.h>

namespace vantrel {

/// Bitmap resource id drawn for dpi, which the caller deletes; nullptr when it cannot be made.
/// Up to 96 dpi it is the bitmap itself; above, the one drawn at twice the size (resource
/// doubleScaleOffset + id), as it is at 192 dpi and filtered down or up to the size for any
/// other dpi, so a label is never an enlarged 1x one. Mapped to the system's 3-D colours
/// (LR_LOADMAP3DCOLORS), as the pictures were drawn on the dialog's grey. A scaled one is a
/// 24-bit DIB section, as the loaded bitmaps are 24-bit: a picture control would copy a 32-bit
/// one, and the copy would leak.
HBITMAP LoadBitmapForDpi(HINSTANCE instance, int id, int doubleScaleOffset, int dpi);

/// A 24-bit copy of bitmap at width x height, filtered (HALFTONE); nullptr on failure.
HBITMAP ScaleBitmap(HBITMAP bitmap, int width, int height);

}  // namespace vantrel

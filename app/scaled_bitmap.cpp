#include "app/scaled_bitmap.h"

#include "app/memory_dc.h"

namespace vantrel {

namespace {

HBITMAP LoadResourceBitmap(HINSTANCE instance, int id) {
    return static_cast<HBITMAP>(
        LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
}

}  // namespace

HBITMAP ScaleBitmap(HBITMAP bitmap, int width, int height) {
    BITMAP source{};
    if (!GetObjectA(bitmap, sizeof source, &source) || width <= 0 || height <= 0) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP scaled = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!scaled) return nullptr;
    bool copied = false;
    {
        MemoryDc from(nullptr);
        MemoryDc to(nullptr);
        if (from.SelectBitmap(bitmap) && to.SelectBitmap(scaled)) {
            SetStretchBltMode(to.Get(), HALFTONE);
            SetBrushOrgEx(to.Get(), 0, 0, nullptr);  // as HALFTONE asks
            copied = StretchBlt(to.Get(), 0, 0, width, height, from.Get(), 0, 0, source.bmWidth,
                                source.bmHeight, SRCCOPY) != FALSE;
        }
    }  // both deselected before the bitmaps go on
    if (!copied) {
        DeleteObject(scaled);
        return nullptr;
    }
    return scaled;
}

HBITMAP LoadBitmapForDpi(HINSTANCE instance, int id, int doubleScaleOffset, int dpi) {
    if (dpi <= 96) return LoadResourceBitmap(instance, id);
    HBITMAP doubled = LoadResourceBitmap(instance, doubleScaleOffset + id);
    if (!doubled || dpi == 192) return doubled;
    BITMAP size{};
    GetObjectA(doubled, sizeof size, &size);
    HBITMAP scaled =
        ScaleBitmap(doubled, MulDiv(size.bmWidth, dpi, 192), MulDiv(size.bmHeight, dpi, 192));
    DeleteObject(doubled);
    return scaled;
}

}  // namespace vantrel

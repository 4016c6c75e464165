#include "app/bitmap_bkgnd.h"

#include "app/memory_dc.h"

namespace vantrel {

bool StretchBitmapOnto(HDC dc, HBITMAP bitmap, int width, int height) {
    BITMAP info{};
    if (!bitmap || !GetObjectA(bitmap, sizeof(info), &info)) {
        return false;
    }
    MemoryDc source(dc);
    if (!source.SelectBitmap(bitmap)) {
        return false;
    }
    SetStretchBltMode(dc, COLORONCOLOR);
    return StretchBlt(dc, 0, 0, width, height, source.Get(), 0, 0, info.bmWidth, info.bmHeight,
                      SRCCOPY) != FALSE;
}

}  // namespace vantrel

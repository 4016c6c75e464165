#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "app/bitmap_bkgnd.h"
#include "app/dialog.h"
#include "app/memory_dc.h"
#include "tests/windows/in_memory_dialog.h"

namespace vantrel {
namespace bitmap_bkgnd_test {
namespace {

// 0x00RRGGBB, as 32-bit DIB pixels hold them.
constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;
constexpr uint32_t kUntouched = 0x123456;

/// A 2x2 bitmap, one colour per quadrant, as a device-dependent bitmap (as LoadBitmap gives).
HBITMAP QuadrantBitmap() {
    const uint32_t pixels[4] = {kRed, kGreen, kBlue, kWhite};  // top row first
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 2;
    info.bmiHeader.biHeight = -2;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 2, 2);
    SetDIBits(screen, bitmap, 0, 2, pixels, &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

class BkgndDlg : public CDialog, public CBitmapBkgnd<BkgndDlg> {
  public:
    explicit BkgndDlg(HBITMAP bitmap) : CBitmapBkgnd<BkgndDlg>(bitmap) {}

    BEGIN_MSG_MAP(BkgndDlg)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBkgnd)
    END_MSG_MAP()
};

/// A top-down 32-bit canvas of the dialog's client size, filled with kUntouched.
class Canvas {
  public:
    Canvas(int width, int height) : m_width(width), m_height(height), m_dc(nullptr) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        m_bitmap.Attach(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        m_pBits = static_cast<uint32_t*>(bits);
        m_dc.SelectBitmap(m_bitmap.Get());
        std::fill(m_pBits, m_pBits + width * height, kUntouched);
    }
    HDC Dc() const { return m_dc.Get(); }
    uint32_t At(int x, int y) const {
        GdiFlush();
        return m_pBits[y * m_width + x] & 0xFFFFFF;
    }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

  private:
    int m_width, m_height;
    BitmapHandle m_bitmap;
    MemoryDc m_dc;
    uint32_t* m_pBits = nullptr;
};

RECT ClientOf(HWND hWnd) {
    RECT client{};
    GetClientRect(hWnd, &client);
    return client;
}

TEST(BitmapBkgndTest, StretchesTheWholeBitmapOverTheClientArea) {
    testing::InMemoryDialog dialogTemplate(WS_POPUP, 150, 80);
    BkgndDlg dialog(QuadrantBitmap());
    HWND hWnd = dialog.Create(nullptr, dialogTemplate.Get());
    ASSERT_NE(hWnd, nullptr);
    RECT client = ClientOf(hWnd);
    Canvas canvas(client.right, client.bottom);
    ASSERT_GT(canvas.Width(), 20);
    ASSERT_GT(canvas.Height(), 20);

    EXPECT_EQ(SendMessageA(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Dc()), 0), 1);

    EXPECT_EQ(GetStretchBltMode(canvas.Dc()), COLORONCOLOR);
    const int midX = canvas.Width() / 2, midY = canvas.Height() / 2;
    int wrong = 0;
    for (int y = 0; y < canvas.Height(); ++y) {
        for (int x = 0; x < canvas.Width(); ++x) {
            if (std::abs(x - midX) <= 1 || std::abs(y - midY) <= 1) {
                EXPECT_NE(canvas.At(x, y), kUntouched) << x << "," << y;
                continue;  // the seams may round either way
            }
            uint32_t expected = y < midY ? (x < midX ? kRed : kGreen) : (x < midX ? kBlue : kWhite);
            wrong += canvas.At(x, y) != expected;
        }
    }
    EXPECT_EQ(wrong, 0);
    // Corners: the bitmap reaches every edge of the client area.
    EXPECT_EQ(canvas.At(0, 0), kRed);
    EXPECT_EQ(canvas.At(canvas.Width() - 1, 0), kGreen);
    EXPECT_EQ(canvas.At(0, canvas.Height() - 1), kBlue);
    EXPECT_EQ(canvas.At(canvas.Width() - 1, canvas.Height() - 1), kWhite);
}

TEST(BitmapBkgndTest, WithoutABitmapTheDialogErasesAsUsual) {
    testing::InMemoryDialog dialogTemplate(WS_POPUP, 60, 40);
    BkgndDlg dialog(nullptr);
    HWND hWnd = dialog.Create(nullptr, dialogTemplate.Get());
    ASSERT_NE(hWnd, nullptr);
    RECT client = ClientOf(hWnd);
    Canvas canvas(client.right, client.bottom);

    SendMessageA(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Dc()), 0);

    EXPECT_NE(canvas.At(canvas.Width() / 2, canvas.Height() / 2), kUntouched);
}

}  // namespace
}  // namespace bitmap_bkgnd_test
}  // namespace vantrel

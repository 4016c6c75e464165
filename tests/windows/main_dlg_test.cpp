// The main panel window made from its real template and resources: what its initialisation
// leaves on screen and in its state, how it closes, and the Win32 view the session drives.
#include <winsock2.h>

#include "panel/main_dlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_module.h"
#include "app/message_loop.h"
#include "app/scaled_bitmap.h"
#include "app/sent_message_wait.h"
#include "panel/address_file.h"
#include "panel/panel_view_win32.h"
#include "presenters/refresh_panel.h"
#include "serial/com_ports.h"
#include "tests/windows/loop_watchdog.h"
#include "tests/windows/temp_dir.h"

namespace vantrel {
namespace main_dlg_test {
namespace {

constexpr uint32_t kLoopbackUnit = 0x7F00003D;  // 127.0.0.61: no test ever aims elsewhere

class MainDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_module.Init(GetModuleHandleA(nullptr));
        g_module.RegisterLoop(&m_loop);
        StoreAddressFile(m_temp.AddressFile(), kLoopbackUnit);
    }
    void TearDown() override {
        g_module.UnregisterLoop();
        g_module.Term();
    }

    static LRESULT Item(HWND panel, int id, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendDlgItemMessageA(panel, id, msg, wParam, lParam);
    }
    static bool HasVisibleStyle(HWND panel, int id) {
        return (GetWindowLongA(GetDlgItem(panel, id), GWL_STYLE) & WS_VISIBLE) != 0;
    }
    static HBITMAP ShownImage(HWND panel, int id) {
        return reinterpret_cast<HBITMAP>(Item(panel, id, STM_GETIMAGE, IMAGE_BITMAP));
    }
    static std::string ComboItem(HWND panel, int index) {
        char text[32] = {};
        Item(panel, IDC_COM_PORTS, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }

    testing::TempDirScope m_temp{"vantrel-main-dlg"};
    CMessageLoop m_loop;
};

TEST_F(MainDlgTest, InitialisationLeavesThePanelAtItsStart) {
    CMainDlg panel;
    ASSERT_TRUE(panel.Create(nullptr, CMainDlg::IDD));
    const HWND w = panel.m_hWnd;
    EXPECT_FALSE(IsWindowVisible(w));  // the start-up code shows it
    EXPECT_NE(SendMessageA(w, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageA(w, WM_GETICON, ICON_SMALL, 0), 0);

    DWORD address = 0;
    Item(w, IDC_CONNECT_IP, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    EXPECT_EQ(address, kLoopbackUnit);

    EXPECT_EQ(Item(w, IDC_VOLUME_BAR, PBM_GETRANGE, TRUE), 0);
    EXPECT_EQ(Item(w, IDC_VOLUME_BAR, PBM_GETRANGE, FALSE), 40);
    EXPECT_EQ(Item(w, IDC_VOLUME_BAR, PBM_GETPOS), 40);  // 999 shows at the top
    for (int bar : {IDC_BRIGHTNESS_BAR, IDC_CONTRAST_BAR, IDC_SATURATION_BAR}) {
        EXPECT_EQ(Item(w, bar, PBM_GETRANGE, FALSE), 255) << bar;
        EXPECT_EQ(Item(w, bar, PBM_GETPOS), 0) << bar;
    }
    EXPECT_EQ(IsDlgButtonChecked(w, IDC_ETHERNET), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(w, IDC_RS232), BST_UNCHECKED);
    EXPECT_FALSE(HasVisibleStyle(w, IDC_COM_PORTS));
    for (int shown : {IDC_CONNECT, IDC_DISCONNECT, IDC_UNIT_MAC}) {
        EXPECT_TRUE(HasVisibleStyle(w, shown)) << shown;
    }

    // The COM list holds what discovery finds (the test's own mapped port among it).
    int32_t ports[kMaxComPorts] = {};
    int32_t count = 0;
    EnumerateComPorts(ports, &count);
    ASSERT_EQ(Item(w, IDC_COM_PORTS, CB_GETCOUNT), count);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(ComboItem(w, i), "COM " + std::to_string(ports[i]));
        EXPECT_EQ(panel.m_comPorts[i], ports[i]);
    }
    EXPECT_EQ(Item(w, IDC_COM_PORTS, CB_GETCURSEL), count > 0 ? 0 : CB_ERR);

    EXPECT_EQ(panel.m_bLinkDown, 1);
    EXPECT_EQ(panel.m_nLinkMode, 1);
    EXPECT_EQ(panel.m_nIpMode, 0);
    EXPECT_EQ(panel.m_nInput, 5);
    EXPECT_EQ(panel.m_nPrevInput, 5);
    EXPECT_EQ(std::vector<int>(panel.m_lamps, panel.m_lamps + 4),
              (std::vector<int>{255, 255, 255, 231}));
    EXPECT_EQ(std::vector<int>(panel.m_levels, panel.m_levels + 4),
              (std::vector<int>{999, 0, 0, 0}));
    EXPECT_EQ(std::vector<int>(panel.m_prevLamps, panel.m_prevLamps + 4),
              (std::vector<int>(4, 255)));
    EXPECT_EQ(std::vector<int>(panel.m_prevLevels, panel.m_prevLevels + 4),
              (std::vector<int>(4, 255)));

    // Registered with this thread's loop as filter and idle handler, with its poll timer.
    EXPECT_TRUE(m_loop.RemoveFilter(&panel));
    EXPECT_TRUE(m_loop.RemoveIdle(&panel));
    m_loop.AddFilter(&panel);
    m_loop.AddIdle(&panel);
    EXPECT_TRUE(KillTimer(w, 1));

    EXPECT_TRUE(panel.DestroyWindow());
    EXPECT_FALSE(m_loop.RemoveFilter(&panel));
    EXPECT_FALSE(m_loop.RemoveIdle(&panel));
    WSACleanup();  // the close command's, which this test did not use
}

TEST_F(MainDlgTest, OkAndCancelDestroyTheWindowAndQuitWithTheirCode) {
    for (const auto& [command, code] : {std::pair{IDOK, 1}, std::pair{IDCANCEL, 2}}) {
        CMainDlg panel;
        ASSERT_TRUE(panel.Create(nullptr, CMainDlg::IDD));
        SendMessageA(panel.m_hWnd, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
        EXPECT_EQ(panel.m_hWnd, nullptr);
        MSG quit{};
        ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(quit.wParam, static_cast<WPARAM>(code));
    }
}

TEST_F(MainDlgTest, EscapeReachesThePanelThroughTheLoopsFilter) {
    testing::LoopWatchdog watchdog;
    CMainDlg panel;
    ASSERT_TRUE(panel.Create(nullptr, CMainDlg::IDD));
    ShowWindow(panel.m_hWnd, SW_SHOWNOACTIVATE);
    // Only the dialog manager turns a key into the Cancel command; a plain dispatch would not.
    PostMessageA(GetDlgItem(panel.m_hWnd, IDC_UNIT_MAC), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(m_loop.RunLoop(), 2);
    EXPECT_EQ(panel.m_hWnd, nullptr);
}

// A unit that accepts the connection and then says nothing: the session sits in a receive.
// Closing the panel must end it without deadlock (its last control updates go through while
// the window's thread waits) and promptly.
TEST_F(MainDlgTest, CloseEndsASessionWaitingOnTheUnitPromptly) {
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(23);
    addr.sin_addr.s_addr = htonl(kLoopbackUnit);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0)
        << "port 23 on 127.0.0.61 (needs root): " << WSAGetLastError();
    ASSERT_EQ(listen(listener, 1), 0);

    CMainDlg panel;
    ASSERT_TRUE(panel.Create(nullptr, CMainDlg::IDD));
    SendMessageA(panel.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_CONNECT, STN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(panel.m_hWnd, IDC_CONNECT)));
    EXPECT_EQ(panel.m_bLinkDown, 0);
    // The session asks the window's thread for the address, so this thread must keep
    // delivering sent messages while it waits for the connection.
    bool came = false;
    for (int i = 0; i < 40 && !came; ++i) {
        WaitDeliveringSentMessages(50);
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener, &ready);
        timeval now{0, 0};
        came = select(0, &ready, nullptr, nullptr, &now) == 1;
    }
    ASSERT_TRUE(came) << "the session never came";
    SOCKET unit = accept(listener, nullptr, nullptr);

    const auto start = std::chrono::steady_clock::now();
    SendMessageA(panel.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_EQ(panel.m_hWnd, nullptr);
    EXPECT_EQ(panel.m_bLinkDown, 1);
    MSG quit{};
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 2u);

    closesocket(unit);
    closesocket(listener);
    WSACleanup();
}

TEST_F(MainDlgTest, ViewReplacesPicturesWithoutKeepingOrLosingImages) {
    CMainDlg panel;
    ASSERT_TRUE(panel.Create(nullptr, CMainDlg::IDD));
    const HWND w = panel.m_hWnd;
    Win32PanelView view(panel);

    const HBITMAP initial = ShownImage(w, IDC_CONNECT);
    ASSERT_NE(initial, nullptr);
    view.SetPicture(IDC_CONNECT, IDB_CONNECT_LIT);
    EXPECT_EQ(GetObjectType(initial), 0u);  // the image given back is deleted
    const HBITMAP lit = ShownImage(w, IDC_CONNECT);
    BITMAP size{};
    ASSERT_TRUE(GetObjectA(lit, sizeof size, &size));
    EXPECT_EQ(size.bmWidth, 127);
    EXPECT_EQ(size.bmHeight, 47);

    // A swap keeps the image given back, to be put back later; the swapped-in one then goes.
    const ImageHandle kept = view.SwapInPicture(IDC_CONNECT, IDB_CONNECT);
    EXPECT_EQ(reinterpret_cast<HBITMAP>(kept), lit);
    EXPECT_EQ(GetObjectType(lit), static_cast<DWORD>(OBJ_BITMAP));
    const HBITMAP swappedIn = ShownImage(w, IDC_CONNECT);
    view.RestorePicture(IDC_CONNECT, kept);
    EXPECT_EQ(ShownImage(w, IDC_CONNECT), lit);
    EXPECT_EQ(GetObjectType(swappedIn), 0u);

    view.SetAddress(IDC_UNIT_MASK, 0xFFFFFF00);
    EXPECT_EQ(view.GetAddress(IDC_UNIT_MASK), 0xFFFFFF00u);
    Item(w, IDC_UNIT_MASK, IPM_CLEARADDRESS);
    EXPECT_EQ(view.GetAddress(IDC_UNIT_MASK), 0u);  // blank fields count as 0

    panel.m_levels[2] = 77;
    RefreshPanel(panel, view);
    EXPECT_EQ(Item(w, IDC_CONTRAST_BAR, PBM_GETPOS), 77);

    // The count of held bitmaps: one per picture, whatever is swapped; a control that is gone
    // takes nothing and keeps nothing; the window's end frees them all.
    view.CountTemplatePictures();
    const int held = view.LiveBitmaps();
    EXPECT_GE(held, 30);
    const ImageHandle pressed = view.SwapInPicture(IDC_MUTE, IDB_MUTE_LIT);
    EXPECT_EQ(view.LiveBitmaps(), held + 1);
    view.RestorePicture(IDC_MUTE, pressed);
    view.SetPicture(4242, IDB_MUTE_LIT);
    view.RestorePicture(4242, view.SwapInPicture(IDC_MUTE, IDB_MUTE_LIT));
    EXPECT_EQ(view.LiveBitmaps(), held);
    EXPECT_EQ(SendMessageA(w, CMainDlg::LiveBitmapsMessage(), 0, 0), held);  // the panel's count
    view.FreePictures();
    EXPECT_EQ(view.LiveBitmaps(), 0);
    EXPECT_EQ(ShownImage(w, IDC_MUTE), nullptr);
    WSACleanup();
}

// A move to a monitor at 200% and on to one at 150%, and back: the controls scale from
// the first layout, each picture takes the bitmap made for its scale (the 2x one, filtered down
// at 150%), lamps keep their look, and the count of held bitmaps never moves.
TEST_F(MainDlgTest, DpiChangeScalesTheLayoutAndTakesTheBitmapsForTheScale) {
    CMainDlg panel;
    ASSERT_TRUE(panel.Create(nullptr, CMainDlg::IDD));
    const HWND w = panel.m_hWnd;
    auto rectOf = [&](int id) {
        RECT r{};
        GetWindowRect(GetDlgItem(w, id), &r);
        MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    auto sizeOf = [&](int id) {
        BITMAP bm{};
        GetObjectA(ShownImage(w, id), sizeof bm, &bm);
        return std::pair<int, int>{bm.bmWidth, bm.bmHeight};
    };
    const RECT bar = rectOf(IDC_VOLUME_BAR);
    const RECT mute = rectOf(IDC_MUTE);
    RECT window{};
    GetWindowRect(w, &window);
    const int held = static_cast<int>(SendMessageA(w, CMainDlg::LiveBitmapsMessage(), 0, 0));
    auto nameOf = [&](int id) {
        char name[64] = {};
        GetWindowTextA(GetDlgItem(w, id), name, sizeof name);
        return std::string(name);
    };
    // A lamp the panel lights itself: Disconnect, once a Connect where no unit listens fails.
    SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDC_CONNECT, STN_CLICKED), 0);
    for (int i = 0; i < 100 && nameOf(IDC_DISCONNECT) != "Disconnect, on"; ++i) {
        WaitDeliveringSentMessages(50, nullptr);
    }
    ASSERT_EQ(nameOf(IDC_DISCONNECT), "Disconnect, on");

    for (int dpi : {192, 144, 96}) {
        SCOPED_TRACE("dpi " + std::to_string(dpi));
        RECT suggested = window;
        suggested.right = window.left + MulDiv(window.right - window.left, dpi, 96);
        suggested.bottom = window.top + MulDiv(window.bottom - window.top, dpi, 96);
        SendMessageA(w, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        const RECT scaledBar = rectOf(IDC_VOLUME_BAR);
        EXPECT_EQ(scaledBar.left, MulDiv(bar.left, dpi, 96));
        EXPECT_EQ(scaledBar.right - scaledBar.left,
                  MulDiv(bar.right, dpi, 96) - MulDiv(bar.left, dpi, 96));
        EXPECT_EQ(rectOf(IDC_MUTE).top, MulDiv(mute.top, dpi, 96));
        EXPECT_EQ(sizeOf(IDC_MUTE),
                  (std::pair<int, int>{MulDiv(100, dpi, 96), MulDiv(45, dpi, 96)}));
        const RECT picture = rectOf(IDC_MUTE);
        EXPECT_EQ(picture.right - picture.left, MulDiv(100, dpi, 96)) << "sized to its bitmap";
        EXPECT_EQ(SendMessageA(w, CMainDlg::LiveBitmapsMessage(), 0, 0), held);
        EXPECT_EQ(nameOf(IDC_DISCONNECT), "Disconnect, on");
    }
    WSACleanup();
}

// At 150% a picture is the 2x bitmap brought down to 150%, never the 1x one enlarged, and a
// 24-bit DIB section: a picture control would copy a 32-bit one, and the copy would leak.
TEST(ScaledBitmapTest, BetweenTheScalesTheDoubleBitmapIsBroughtDown) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    HBITMAP scaled = LoadBitmapForDpi(instance, IDB_MUTE, IDB_DOUBLE_SCALE_OFFSET, 144);
    ASSERT_NE(scaled, nullptr);
    DIBSECTION dib{};
    ASSERT_EQ(GetObjectA(scaled, sizeof dib, &dib), static_cast<int>(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, 150);
    EXPECT_EQ(dib.dsBm.bmHeight, 68);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);

    HBITMAP small = LoadBitmapForDpi(instance, IDB_MUTE, IDB_DOUBLE_SCALE_OFFSET, 96);
    HBITMAP enlarged = ScaleBitmap(small, 150, 68);
    ASSERT_NE(enlarged, nullptr);
    DIBSECTION other{};
    GetObjectA(enlarged, sizeof other, &other);
    const size_t bytes =
        dib.dsBmih.biSizeImage ? dib.dsBmih.biSizeImage : ((150 * 3 + 3) & ~3) * 68;
    EXPECT_NE(std::memcmp(dib.dsBm.bmBits, other.dsBm.bmBits, bytes), 0);
    DeleteObject(enlarged);
    DeleteObject(small);
    DeleteObject(scaled);
}

}  // namespace
}  // namespace main_dlg_test
}  // namespace vantrel

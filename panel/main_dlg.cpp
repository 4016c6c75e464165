// Windows Sockets 2 before anything that brings in <windows.h>, which would include the old
// Windows Sockets header.
#include <winsock2.h>

#include "panel/main_dlg.h"

#include <commctrl.h>

#include <cstdio>

#include "app/app_module.h"
#include "app/dpi.h"
#include "app/scaled_bitmap.h"
#include "panel/about_dlg.h"
#include "panel/accessible_controls.h"
#include "panel/address_file.h"
#include "serial/com_ports.h"

namespace vantrel {

namespace {

constexpr UINT kPollPeriodMs = 5000;
constexpr int kVolumeRange = 40;
constexpr int kLcdRange = 255;
constexpr int32_t kUnknownLevel = 999;  // above any level, so the first status sets the bar
constexpr uint8_t kNoInput = 5;

HBITMAP LoadBackground() {
    return LoadBitmapA(g_module.GetInstance(), MAKEINTRESOURCEA(IDB_BACKGROUND));
}

CMessageLoop* ThisThreadsLoop() { return g_module.LoopForThread(GetCurrentThreadId()); }

}  // namespace

template <typename Body>
LRESULT CMainDlg::RunHandler(Body body) {
    if (m_bClosing) return 0;
    ++m_nHandlerDepth;
    body();
    if (--m_nHandlerDepth == 0 && m_nDeferredClose != 0) Close(m_nDeferredClose);
    return 0;
}

CMainDlg::CMainDlg()
    : CBitmapBkgnd<CMainDlg>(LoadBackground()),
      m_view(*this),
      m_controls(
          *this, m_view, m_serial, SystemClock::Instance(),
          [this](const char* text) { m_view.ShowMessage(text); },
          [](uint32_t address) { StoreAddressFile(AddressFilePath(), address); }),
      m_stream(m_bLinkDown.Atomic(), SystemClock::Instance()),
      m_link(*this, m_view, m_stream, SystemClock::Instance()) {
    // A handler waiting on the session (PostCommand, Connect) goes on as soon as the session
    // clears its code or ends, not at the end of its wait's step.
    SetStoreListener([this] { m_view.WakeWait(); });
}

CMainDlg::~CMainDlg() {
    // Destroyed here, while the whole object still stands, rather than by the base.
    if (m_hWnd) DestroyWindow();
}

bool CMainDlg::FilterMessage(MSG* pMsg) { return IsDialogMessageA(m_hWnd, pMsg) != FALSE; }

bool CMainDlg::HandleIdle() { return false; }

UINT CMainDlg::LiveBitmapsMessage() {
    static const UINT message = RegisterWindowMessageA("VantrelPanel.LiveBitmaps");
    return message;
}

LRESULT CMainDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool&) {
    CenterWindow();
    SetIcons();
    if (CMessageLoop* loop = ThisThreadsLoop()) {
        loop->AddFilter(this);
        loop->AddIdle(this);
    }
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    const uint32_t address = LoadAddressFile(AddressFilePath());
    SetTimer(m_hWnd, PanelControls::kPollTimer, kPollPeriodMs, nullptr);

    m_bPollPaused = 0;
    m_nSerialState = 0;
    m_nInput = m_nPrevInput = kNoInput;
    m_lamps[0] = m_lamps[1] = m_lamps[2] = 255;
    m_lamps[3] = 231;
    for (auto& level : m_levels) level = kUnknownLevel;
    SendDlgItemMessage(IDC_CONNECT_IP, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
    m_nIpMode = 0;
    StoreLinkDown(1);
    StartLevelBars();

    ShowDlgItem(IDC_DISCONNECT, true);
    ShowDlgItem(IDC_CONNECT, true);
    ShowDlgItem(IDC_UNIT_MAC, true);
    CheckDlgButton(IDC_ETHERNET, BST_CHECKED);
    CheckDlgButton(IDC_RS232, BST_UNCHECKED);
    ShowDlgItem(IDC_COM_PORTS, false);
    m_nLinkMode = kLinkEthernet;
    FillComPorts();
    for (int i = 0; i < 4; ++i) {
        m_prevLamps[i] = 255;
        m_prevLevels[i] = 255;
    }
    MakeAccessible(m_hWnd);
    m_view.CountTemplatePictures();
    // The dialog manager laid the template out for the monitor's DPI (the program is DPI
    // aware); the template's pictures are 1x bitmaps, which only 96 dpi keeps.
    const int dpi = WindowDpi(m_hWnd);
    m_layout.Capture(m_hWnd, dpi);
    if (dpi != 96) ShowAtDpi(dpi);
    return 1;  // the system focuses the first control that takes the focus
}

LRESULT CMainDlg::OnDestroy(UINT, WPARAM, LPARAM, bool&) {
    KillTimer(m_hWnd, PanelControls::kPollTimer);
    // Normally the close command has ended the session already; any other way the window goes
    // must not leave a session updating controls that are gone.
    m_link.Stop();
    m_view.FreePictures();
    if (CMessageLoop* loop = ThisThreadsLoop()) {
        loop->RemoveFilter(this);
        loop->RemoveIdle(this);
    }
    return 0;
}

LRESULT CMainDlg::OnTimer(UINT, WPARAM wParam, LPARAM, bool&) {
    return RunHandler([&] { m_controls.OnTimer(wParam); });
}

LRESULT CMainDlg::OnLiveBitmaps(UINT, WPARAM, LPARAM, bool&) { return m_view.LiveBitmaps(); }

LRESULT CMainDlg::OnDpiChanged(UINT, WPARAM wParam, LPARAM lParam, bool&) {
    const int dpi = LOWORD(wParam);
    m_layout.Apply(m_hWnd, dpi, *reinterpret_cast<const RECT*>(lParam));
    ShowAtDpi(dpi);
    return 0;
}

void CMainDlg::ShowAtDpi(int dpi) {
    m_view.ShowAtDpi(dpi);
    if (dpi <= 96) {
        m_hBkgndBmp.Attach(LoadBackground());
        return;
    }
    // Made once for the client area, so that painting it is a plain copy.
    RECT client{};
    GetClientRect(m_hWnd, &client);
    BitmapHandle doubled(LoadBitmapA(g_module.GetInstance(),
                                     MAKEINTRESOURCEA(IDB_DOUBLE_SCALE_OFFSET + IDB_BACKGROUND)));
    HBITMAP scaled = ScaleBitmap(doubled.Get(), client.right, client.bottom);
    if (scaled) m_hBkgndBmp.Attach(scaled);
}

LRESULT CMainDlg::OnCloseCmd(WORD, WORD wID, HWND, bool&) {
    if (m_bClosing) return 0;
    if (m_pFirmwareDialog) {
        // An update under way finishes first, on the stream it has: a half-written controller
        // is worse than a late close. The dialog closes once its procedures have ended, and
        // the panel after it.
        m_nDeferredClose = wID;
        m_pFirmwareDialog->CloseWhenDone();
        return 0;
    }
    if (m_nHandlerDepth > 0) {
        // Closing now would destroy the window and stop Windows Sockets under the handler that
        // is waiting. The session is told to end at once, so that wait ends soon.
        m_nDeferredClose = wID;
        StoreLinkDown(1);
        return 0;
    }
    Close(wID);
    return 0;
}

LRESULT CMainDlg::OnClose(UINT, WPARAM, LPARAM, bool& bHandled) {
    return OnCloseCmd(BN_CLICKED, IDCANCEL, nullptr, bHandled);
}

void CMainDlg::Close(WORD quitCode) {
    m_bClosing = true;
    // The session ends first: it must not be left using its socket once Windows Sockets has
    // stopped, nor touch the window once it is gone. Stop keeps delivering the session's
    // control updates while it waits.
    m_link.Stop();
    WSACleanup();
    DestroyWindow();
    PostQuitMessage(quitCode);
}

LRESULT CMainDlg::OnConnect(WORD, WORD, HWND, bool&) {
    return RunHandler([&] { m_link.OnConnect(); });
}

LRESULT CMainDlg::OnDisconnect(WORD, WORD, HWND, bool&) {
    return RunHandler([&] { m_link.OnDisconnect(); });
}

LRESULT CMainDlg::OnButton(WORD, WORD wID, HWND, bool&) {
    return RunHandler([&] { m_controls.OnButton(wID); });
}

LRESULT CMainDlg::OnEthernetLink(WORD, WORD, HWND, bool&) {
    return RunHandler([&] { m_controls.OnEthernetLink(); });
}

LRESULT CMainDlg::OnSerialLink(WORD, WORD, HWND, bool&) {
    return RunHandler([&] { m_controls.OnSerialLink(); });
}

LRESULT CMainDlg::OnStaticIp(WORD, WORD, HWND, bool&) {
    return RunHandler([&] { m_controls.OnStaticIp(); });
}

LRESULT CMainDlg::OnDhcp(WORD, WORD, HWND, bool&) {
    return RunHandler([&] { m_controls.OnDhcp(); });
}

LRESULT CMainDlg::OnReadNetSettings(WORD, WORD, HWND, bool&) {
    return RunHandler([&] { m_controls.OnReadNetSettings(); });
}

LRESULT CMainDlg::OnApplyNetSettings(WORD, WORD, HWND, bool&) {
    return RunHandler([&] { m_controls.OnApplyNetSettings(); });
}

LRESULT CMainDlg::OnDefaultIp(WORD, WORD, HWND, bool&) {
    return RunHandler([&] { m_controls.OnDefaultIp(); });
}

LRESULT CMainDlg::OnFirmwareUpdate(WORD, WORD, HWND, bool&) {
    return RunHandler([&] {
        m_controls.PressPicture(IDC_FIRMWARE_UPDATE, IDB_FIRMWARE_UPDATE_LIT);
        // Opens at once, whatever the session is doing (a connect still pending, say): an
        // update through the console waits for the stream on its own thread.
        m_bFirmwareOpen = 1;
        CAboutDlg::Opening opening;
        opening.linkMode = m_nLinkMode;
        opening.stream = &m_stream;
        opening.linkDown = m_bLinkDown;
        opening.streamUse = &m_streamUse;
        opening.sessionDown = &m_bLinkDown.Atomic();
        const int32_t selection = m_view.ComSelection();
        if (selection >= 0 && selection < m_nComPortCount) {
            opening.comPort = m_comPorts[selection];
        }
        {
            CAboutDlg dialog(opening);
            m_pFirmwareDialog = &dialog;
            dialog.DoModal(GetActiveWindow(), CAboutDlg::IDD);
            m_pFirmwareDialog = nullptr;
        }
        m_bFirmwareOpen = 0;
        m_controls.ReleasePicture(IDC_FIRMWARE_UPDATE);
    });
}

void CMainDlg::SetIcons() {
    const HINSTANCE instance = g_module.GetInstance();
    m_hBigIcon.Attach(static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_PANEL),
                                                    IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                    GetSystemMetrics(SM_CYICON), 0)));
    m_hSmallIcon.Attach(static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_PANEL),
                                                      IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), 0)));
    SetIcon(m_hBigIcon.Get(), true);
    SetIcon(m_hSmallIcon.Get(), false);
}

void CMainDlg::StartLevelBars() {
    // Volume shows 999 for now, which the bar draws at the top of its range.
    SendDlgItemMessage(IDC_VOLUME_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, kVolumeRange));
    SendDlgItemMessage(IDC_VOLUME_BAR, PBM_SETPOS, m_levels[0]);
    for (int i = 1; i < 4; ++i) {
        m_levels[i] = 0;
        SendDlgItemMessage(IDC_VOLUME_BAR + i, PBM_SETRANGE, 0, MAKELPARAM(0, kLcdRange));
        SendDlgItemMessage(IDC_VOLUME_BAR + i, PBM_SETPOS, 0);
    }
}

void CMainDlg::FillComPorts() {
    EnumerateComPorts(m_comPorts, &m_nComPortCount);
    for (int32_t i = 0; i < m_nComPortCount; ++i) {
        char item[16];
        std::snprintf(item, sizeof item, "COM %d", m_comPorts[i]);
        SendDlgItemMessage(IDC_COM_PORTS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendDlgItemMessage(IDC_COM_PORTS, CB_SETCURSEL, 0);  // with no port, nothing is selected
}

}  // namespace vantrel

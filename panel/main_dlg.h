#pragma once

#include <windows.h>

#include "app/bitmap_bkgnd.h"
#include "app/dialog.h"
#include "app/dpi_layout.h"
#include "app/handles.h"
#include "app/idle_handler.h"
#include "app/message_filter.h"
#include "panel/about_dlg.h"
#include "panel/panel_view_win32.h"
#include "presenters/net_link.h"
#include "presenters/panel_controls.h"
#include "presenters/panel_state.h"
#include "res/resource.h"
#include "serial/serial_port.h"
#include "unit/tcp_stream.h"

namespace vantrel {

/// The main panel: one modeless dialog that mirrors the unit. The panel state is its base, so
/// the state's fields are the window's members; the handlers' bodies are m_controls', and the
/// network session reaches the controls through m_view.
class CMainDlg : public CDialog,
                 public CMessageFilter,
                 public CBitmapBkgnd<CMainDlg>,
                 public CIdleHandler,
                 public PanelState {
  public:
    enum { IDD = IDD_PANEL };

    CMainDlg();
    ~CMainDlg() override;

    /// The dialog manager's keyboard handling for a modeless dialog: Tab between controls,
    /// Enter as OK, Esc as Cancel.
    bool FilterMessage(MSG* pMsg) override;
    bool HandleIdle() override;

    /// A diagnostic query another process may send the panel: the number of bitmaps its
    /// pictures hold (what a leak check counts, since Wine keeps no GDI counts).
    static UINT LiveBitmapsMessage();

    BEGIN_MSG_MAP(CMainDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBkgnd)
    MESSAGE_HANDLER(WM_TIMER, OnTimer)
    MESSAGE_HANDLER(WM_DPICHANGED, OnDpiChanged)
    MESSAGE_HANDLER(LiveBitmapsMessage(), OnLiveBitmaps)
    MESSAGE_HANDLER(WM_CLOSE, OnClose)
    COMMAND_ID_HANDLER(IDOK, OnCloseCmd)
    COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
    COMMAND_HANDLER(IDC_ETHERNET, BN_CLICKED, OnEthernetLink)
    COMMAND_HANDLER(IDC_RS232, BN_CLICKED, OnSerialLink)
    COMMAND_HANDLER(IDC_COM_PORTS, CBN_SELCHANGE, OnSerialLink)
    COMMAND_HANDLER(IDC_STATIC_IP, BN_CLICKED, OnStaticIp)
    COMMAND_HANDLER(IDC_DHCP, BN_CLICKED, OnDhcp)
    COMMAND_HANDLER(IDC_SOLO_LEFT, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_SOLO_RIGHT, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_PRE_2CH, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_NEXT_2CH, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_PRE_8CH, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_NEXT_8CH, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_SDI_INPUT, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_MIX_DOWN, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_VU_MODE, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_DPPM_MODE, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_LKFS_MODE, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_CONNECT, STN_CLICKED, OnConnect)
    COMMAND_HANDLER(IDC_DISCONNECT, STN_CLICKED, OnDisconnect)
    COMMAND_HANDLER(IDC_VOLUME_DOWN, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_VOLUME_UP, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_MUTE, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_FIRMWARE_UPDATE, STN_CLICKED, OnFirmwareUpdate)
    COMMAND_HANDLER(IDC_READ, STN_CLICKED, OnReadNetSettings)
    COMMAND_HANDLER(IDC_APPLY, STN_CLICKED, OnApplyNetSettings)
    COMMAND_HANDLER(IDC_BRIGHTNESS_DOWN, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_BRIGHTNESS_UP, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_CONTRAST_DOWN, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_CONTRAST_UP, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_SATURATION_DOWN, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_SATURATION_UP, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_FACTORY_RESET, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_DEFAULT_IP, STN_CLICKED, OnDefaultIp)
    COMMAND_HANDLER(IDC_HDMI_INPUT, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_BALANCED_INPUT, STN_CLICKED, OnButton)
    COMMAND_HANDLER(IDC_UNBALANCED_INPUT, STN_CLICKED, OnButton)
    END_MSG_MAP()

    LRESULT OnInitDialog(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    /// The status poll, timer 1.
    LRESULT OnTimer(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    LRESULT OnLiveBitmaps(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    /// The window moved to a monitor of another scale: the layout, the font, the pictures and
    /// the background follow it.
    LRESULT OnDpiChanged(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    /// OK (Enter) quits with 1, Cancel (Esc, the close box) with 2. A close that arrives while
    /// a handler waits (another program's WM_CLOSE, delivered with the session's updates) is
    /// carried out once that handler has returned.
    LRESULT OnCloseCmd(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    /// WM_CLOSE is Cancel, taken as it is sent: the dialog's default would post the Cancel
    /// command, which a waiting handler does not let in, so the session would not be told.
    LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    LRESULT OnConnect(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnDisconnect(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    /// Every pictured button of the control table.
    LRESULT OnButton(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnEthernetLink(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnSerialLink(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnStaticIp(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnDhcp(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnReadNetSettings(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnApplyNetSettings(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnDefaultIp(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    /// Opens the firmware update dialog, modal, with the status poll paused while it is open.
    LRESULT OnFirmwareUpdate(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);

  private:
    /// Runs a handler's body; a close deferred while it ran is carried out when it returns.
    template <typename Body>
    LRESULT RunHandler(Body body);
    void Close(WORD quitCode);
    void SetIcons();
    void StartLevelBars();
    void FillComPorts();
    /// Pictures and background from the bitmaps made for dpi.
    void ShowAtDpi(int dpi);

    SerialPort m_serial;
    IconHandle m_hBigIcon;
    IconHandle m_hSmallIcon;
    Win32PanelView m_view;
    DpiLayout m_layout;
    CAboutDlg* m_pFirmwareDialog = nullptr;  // while the firmware update dialog is open
    PanelControls m_controls;
    TcpStream m_stream;  // the session's socket
    NetLink m_link;      // declared last: its session is joined before the rest goes
    int m_nHandlerDepth = 0;
    WORD m_nDeferredClose = 0;  // the quit code of a close that waits for a handler
    bool m_bClosing = false;
};

}  // namespace vantrel

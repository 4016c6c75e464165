#pragma once

#include <windows.h>

#include "app/bitmap_bkgnd.h"
#include "app/dialog.h"
#include "app/handles.h"
#include "app/idle_handler.h"
#include "app/message_filter.h"
#include "link/net_link.h"
#include "link/panel_state.h"
#include "link/tcp_stream.h"
#include "panel/panel_view_win32.h"
#include "res/resource.h"
#include "serial/serial_port.h"

namespace vantrel {

/// The main panel: one modeless dialog that mirrors the unit. The panel state is its base, so
/// the state's fields are the window's members; the network session reaches the controls
/// through m_view.
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

    BEGIN_MSG_MAP(CMainDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_ERASEBKGND, OnEraseBkgnd)
    COMMAND_ID_HANDLER(IDOK, OnCloseCmd)
    COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
    COMMAND_HANDLER(IDC_CONNECT, STN_CLICKED, OnConnect)
    COMMAND_HANDLER(IDC_DISCONNECT, STN_CLICKED, OnDisconnect)
    END_MSG_MAP()

    LRESULT OnInitDialog(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    /// OK (Enter) quits with 1, Cancel (Esc, the close box) with 2.
    LRESULT OnCloseCmd(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnConnect(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnDisconnect(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);

  private:
    void SetIcons();
    void StartLevelBars();
    void FillComPorts();

    SerialPort m_serial;
    IconHandle m_hBigIcon;
    IconHandle m_hSmallIcon;
    Win32PanelView m_view;
    TcpStream m_stream;  // the session's socket
    NetLink m_link;      // declared last: its session is joined before the rest goes
};

}  // namespace vantrel

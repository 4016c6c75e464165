#pragma once

#include <windows.h>

#include <cstdint>

#include "app/dialog.h"
#include "presenters/firmware_presenter.h"
#include "presenters/firmware_view.h"
#include "res/resource.h"
#include "serial/serial_port.h"
#include "unit/byte_stream.h"

namespace vantrel {

/// The firmware update dialog, modal over the panel. It chooses the files, starts the update
/// procedures through their presenter (link/firmware_presenter.h) on threads of their own and shows
/// what they report; the procedures hold the logic. A close asked for while a procedure runs waits
/// for it to end, so the threads never outlive the record, port and window that they use.
class CAboutDlg : public CDialog {
  public:
    enum { IDD = IDD_FIRMWARE };

    /// What the panel hands over when it opens the dialog. comPort: the selected port's full
    /// number, -1 with no selection.
    struct Opening {
        std::uint8_t linkMode = 0;
        ByteStream* stream = nullptr;
        std::int32_t linkDown = 1;
        std::int32_t comPort = -1;
        std::mutex* streamUse = nullptr;
        const std::atomic<std::int32_t>* sessionDown = nullptr;
    };

    explicit CAboutDlg(const Opening& opening);
    ~CAboutDlg() override;

    /// Ends the dialog, at once or, while an update runs, once every procedure has ended.
    void CloseWhenDone();

    BEGIN_MSG_MAP(CAboutDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_SETCURSOR, OnSetCursor)
    MESSAGE_HANDLER(ShowCursorMessage(), OnShowCursor)
    MESSAGE_HANDLER(ProcedureEndedMessage(), OnProcedureEnded)
    COMMAND_ID_HANDLER(IDC_FW_MAIN_LOAD, OnLoadMainFile)
    COMMAND_ID_HANDLER(IDC_FW_MAIN_BURN, OnBurnMain)
    COMMAND_ID_HANDLER(IDC_FW_MAIN_STOP, OnStopMain)
    COMMAND_ID_HANDLER(IDC_FW_NET_LOAD, OnLoadNetFile)
    COMMAND_ID_HANDLER(IDC_FW_NET_BURN, OnBurnNet)
    COMMAND_ID_HANDLER(IDC_FW_NET_STOP, OnStopNet)
    COMMAND_ID_HANDLER(IDC_FW_BREAK, OnBreak)
    COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
    END_MSG_MAP()

    LRESULT OnInitDialog(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    LRESULT OnSetCursor(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    LRESULT OnShowCursor(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    LRESULT OnProcedureEnded(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    LRESULT OnLoadMainFile(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnBurnMain(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnStopMain(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnLoadNetFile(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnBurnNet(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnStopNet(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    LRESULT OnBreak(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);
    /// Ends the dialog with 2, at once when no procedure runs, else when the last one ends.
    LRESULT OnCancel(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);

  private:
    /// What the procedures show, from their threads: every call is a message that the
    /// dialog's thread carries out, which keeps delivering them while a procedure runs.
    class View : public FirmwareView {
      public:
        explicit View(const CDialog& dialog) : m_dialog(dialog) {}
        void SetText(int control, const char* text) override;
        void SetProgressRange(std::uint16_t maximum) override;
        void SetProgressPos(int position) override;
        void EnableControl(int control, bool enable) override;
        void SetCursor(Cursor cursor) override;
        void ShowMessage(const char* text) override;

      private:
        const CDialog& m_dialog;
    };

    static UINT ShowCursorMessage() { return WM_APP + 1; }
    static UINT ProcedureEndedMessage() { return WM_APP + 2; }

    void VersionQuery();
    /// The open-file dialog with the group's filters; the chosen path and its size are shown
    /// and kept in `path` for the group's next update.
    void ChooseFile(const char* filter, int pathText, int sizeText, char (&path)[MAX_PATH]);
    SerialPort m_serial;  // the dialog's own port: version query, Break and the procedures
    View m_view;
    // The chosen files, kept apart from the record's, which an update's thread reads while it
    // runs: choosing a file then never writes what that thread reads.
    char m_szMainFile[MAX_PATH] = {};
    char m_szNetFile[MAX_PATH] = {};
    int m_nRunning = 0;  // procedures started and not yet reported ended; window's thread only
    bool m_bCloseWaits = false;
    bool m_bWaitCursor = false;
    FirmwarePresenter m_presenter;  // declared last: its threads are joined before the rest goes
};

}  // namespace vantrel

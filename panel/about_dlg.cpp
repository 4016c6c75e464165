#include "panel/about_dlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <mmsystem.h>

#include <cstdio>
#include <optional>

#include "firmware/loader_port.h"
#include "presenters/firmware_ids.h"
#include "presenters/firmware_presenter.h"
#include "unit/clock.h"
#include "unit/serial_exchanges.h"

namespace vantrel {

namespace {

constexpr DWORD kPathSize = MAX_PATH;
constexpr DWORD kTitleSize = 256;

// Pairs of description and pattern, the first one selected.
constexpr char kMainFilter[] = "BIN (*.BIN)\0*.BIN\0HEX (*.HEX)\0*.HEX\0All Files (*.*)\0*.*\0";
constexpr char kNetFilter[] = "HEX (*.HEX)\0*.HEX\0BIN (*.BIN)\0*.BIN\0All Files (*.*)\0*.*\0";

// The procedures pace their protocols with pauses of a few milliseconds, which Windows
// stretches to its default tick of about 15.6 ms unless the resolution is raised.
class TimerResolution {
  public:
    TimerResolution() : m_raised(timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~TimerResolution() {
        if (m_raised) timeEndPeriod(1);
    }
    TimerResolution(const TimerResolution&) = delete;
    TimerResolution& operator=(const TimerResolution&) = delete;

  private:
    bool m_raised;
};

void ShowVersion(CDialog& dialog, int control, const std::optional<FirmwareVersion>& version) {
    if (!version) return;  // the template's text stays
    char text[32];
    std::snprintf(text, sizeof text, "Version:V%d.%02d", version->major, version->minor);
    dialog.SetDlgItemText(control, text);
}

}  // namespace

// --- the view the procedures report through ------------------------------------------------

void CAboutDlg::View::SetText(int control, const char* text) {
    ::SetDlgItemTextA(m_dialog.m_hWnd, control, text);
}

void CAboutDlg::View::SetProgressRange(std::uint16_t maximum) {
    ::SendDlgItemMessageA(m_dialog.m_hWnd, kProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
}

void CAboutDlg::View::SetProgressPos(int position) {
    ::SendDlgItemMessageA(m_dialog.m_hWnd, kProgressBar, PBM_SETPOS, position, 0);
}

void CAboutDlg::View::EnableControl(int control, bool enable) {
    ::EnableWindow(::GetDlgItem(m_dialog.m_hWnd, control), enable);
}

// A cursor set on a worker thread would not show over the dialog, whose thread sets its own on
// every mouse move: the dialog's thread takes it over and keeps it.
void CAboutDlg::View::SetCursor(Cursor cursor) {
    ::SendMessageA(m_dialog.m_hWnd, ShowCursorMessage(), cursor == Cursor::Wait, 0);
}

void CAboutDlg::View::ShowMessage(const char* text) {
    ::MessageBoxA(m_dialog.m_hWnd, text, "", MB_OK);
}

// --- the dialog ----------------------------------------------------------------------------

CAboutDlg::CAboutDlg(const Opening& opening)
    : m_view(*this),
      m_presenter(m_serial, m_view, SystemClock::Instance(),
                  [this](const std::function<void()>& procedure) {
                      {
                          TimerResolution resolution;
                          procedure();
                      }
                      PostMessageA(m_hWnd, ProcedureEndedMessage(), 0, 0);
                  }) {
    FirmwareRecord& record = m_presenter.Record();
    record.linkMode = opening.linkMode;
    record.stream = opening.stream;
    record.linkDown = opening.linkDown;
    record.comPort = opening.comPort;
    record.streamUse = opening.streamUse;
    record.sessionDown = opening.sessionDown;
}

CAboutDlg::~CAboutDlg() {
    // Normally the close waited for every procedure; this covers a window ended otherwise.
    m_presenter.Join();
    if (m_hWnd) DestroyWindow();
}

LRESULT CAboutDlg::OnInitDialog(UINT, WPARAM, LPARAM, bool&) {
    CenterWindow();
    m_presenter.Open();
    EnableDlgItem(IDC_FW_MAIN_BURN, true);
    const bool network = m_presenter.Record().linkMode == kLinkNetwork;
    for (int id : {IDC_FW_NET_LOAD, IDC_FW_NET_STOP, IDC_FW_BREAK}) EnableDlgItem(id, !network);
    EnableDlgItem(IDC_FW_NET_BURN, false);
    VersionQuery();
    return 1;  // the system focuses the first control that takes the focus
}

// Over the COM port whatever the link: the versions are only asked for there.
void CAboutDlg::VersionQuery() {
    if (!firmware::OpenLoaderPort(m_serial, m_presenter.Record().comPort,
                                  firmware::kMainLoaderBaud))
        return;
    const FirmwareVersions versions = RunVersionRead(m_serial, SystemClock::Instance()).Value();
    ShowVersion(*this, IDC_FW_MAIN_VERSION, versions.main);
    ShowVersion(*this, IDC_FW_NET_VERSION, versions.net);
}

LRESULT CAboutDlg::OnSetCursor(UINT, WPARAM, LPARAM, bool& bHandled) {
    if (!m_bWaitCursor) {
        bHandled = false;
        return 0;
    }
    ::SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    return TRUE;
}

LRESULT CAboutDlg::OnShowCursor(UINT, WPARAM wParam, LPARAM, bool&) {
    m_bWaitCursor = wParam != 0;
    ::SetCursor(LoadCursorA(nullptr, m_bWaitCursor ? IDC_WAIT : IDC_ARROW));
    return 0;
}

LRESULT CAboutDlg::OnProcedureEnded(UINT, WPARAM, LPARAM, bool&) {
    if (--m_nRunning > 0 || !m_bCloseWaits) return 0;
    m_presenter.Join();  // each has returned from its procedure; nothing of theirs sends any more
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT CAboutDlg::OnCancel(WORD, WORD, HWND, bool&) {
    CloseWhenDone();
    return 0;
}

void CAboutDlg::CloseWhenDone() {
    if (m_nRunning > 0) {
        m_bCloseWaits = true;
        return;
    }
    m_presenter.Join();
    EndDialog(IDCANCEL);
}

void CAboutDlg::ChooseFile(const char* filter, int pathText, int sizeText, char (&path)[MAX_PATH]) {
    char file[kPathSize] = {};
    char title[kTitleSize] = {};
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetActiveWindow();
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = kPathSize;
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = kTitleSize;
    ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return;  // cancelled: nothing changes

    // A file that cannot be read now shows no size; its update then reports that no file
    // is loaded.
    char size[32] = "";
    if (std::FILE* opened = std::fopen(file, "rb")) {
        if (std::fseek(opened, 0, SEEK_END) == 0) {
            std::snprintf(size, sizeof size, "%d byte.", static_cast<int>(std::ftell(opened)));
        }
        std::fclose(opened);
    }
    SetDlgItemText(sizeText, size);
    SetDlgItemText(pathText, file);
    lstrcpynA(path, file, MAX_PATH);
}

LRESULT CAboutDlg::OnLoadMainFile(WORD, WORD, HWND, bool&) {
    ChooseFile(kMainFilter, IDC_FW_MAIN_PATH, IDC_FW_MAIN_SIZE, m_szMainFile);
    return 0;
}

LRESULT CAboutDlg::OnLoadNetFile(WORD, WORD, HWND, bool&) {
    ChooseFile(kNetFilter, IDC_FW_NET_PATH, IDC_FW_NET_SIZE, m_szNetFile);
    return 0;
}

LRESULT CAboutDlg::OnBurnMain(WORD, WORD, HWND, bool&) {
    EnableDlgItem(IDC_FW_MAIN_BURN, false);
    if (m_presenter.BurnMain(m_szMainFile)) {
        ++m_nRunning;
    } else {
        EnableDlgItem(IDC_FW_MAIN_BURN, true);
    }
    return 0;
}

LRESULT CAboutDlg::OnBurnNet(WORD, WORD, HWND, bool&) {
    EnableDlgItem(IDC_FW_NET_BURN, false);
    EnableDlgItem(IDC_FW_BREAK, false);
    if (m_presenter.BurnNet(m_szNetFile)) {
        ++m_nRunning;
    } else {
        EnableDlgItem(IDC_FW_NET_BURN, true);
    }
    return 0;
}

LRESULT CAboutDlg::OnStopMain(WORD, WORD, HWND, bool&) {
    m_presenter.StopMain();
    return 0;
}

LRESULT CAboutDlg::OnStopNet(WORD, WORD, HWND, bool&) {
    m_presenter.StopNet();
    return 0;
}

LRESULT CAboutDlg::OnBreak(WORD, WORD, HWND, bool&) {
    m_presenter.HoldBreak();
    return 0;
}

}  // namespace vantrel

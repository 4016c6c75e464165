#pragma once

#include <windows.h>

#include "app/message_map.h"

namespace vantrel {

/// A dialog made from a template whose messages go to the object's message map
/// (BEGIN_MSG_MAP in the derived class). Modeless with Create, modal with DoModal. The
/// object must outlive its window. Destroying the object destroys a window still open
/// without running its handlers (the derived part is gone by then), so a dialog whose
/// WM_DESTROY handler must run destroys its window itself first.
class CDialog {
  public:
    CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;
    virtual ~CDialog();

    /// Modeless, from a template of the program's resources; nullptr on failure.
    HWND Create(HWND parent, int templateId);
    /// Modeless, from a template in memory; nullptr on failure.
    HWND Create(HWND parent, const DLGTEMPLATE* dialogTemplate);
    /// Modal, from a template of the program's resources: EndDialog's result, -1 on failure.
    INT_PTR DoModal(HWND parent, int templateId);
    /// Modal, from a template in memory.
    INT_PTR DoModal(HWND parent, const DLGTEMPLATE* dialogTemplate);

    bool DestroyWindow();
    bool EndDialog(INT_PTR result);

    HWND GetDlgItem(int id) const;
    bool SetDlgItemText(int id, const char* text);
    bool CheckDlgButton(int id, UINT check);
    bool EnableDlgItem(int id, bool enable);
    bool ShowDlgItem(int id, bool show);
    LRESULT SendDlgItemMessage(int id, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    /// Centres the window over its owner or, without one, over its monitor's work area.
    bool CenterWindow();
    void SetIcon(HICON icon, bool big);

    /// Routes one message; true when a handler of the map handled it (lResult then holds
    /// its result). Written by BEGIN_MSG_MAP.
    virtual bool ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                      LRESULT& lResult) = 0;

    HWND m_hWnd = nullptr;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
};

}  // namespace vantrel

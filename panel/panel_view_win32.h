#pragma once

#include <windows.h>

#include "app/dialog.h"
#include "link/panel_state.h"
#include "link/panel_view.h"

namespace vantrel {

/// The panel's controls as the network session updates them. The session calls from its own
/// thread: every update is a message sent to a control (SendMessage), which the window's
/// thread delivers, also while it waits on the session (WaitForSession delivers sent messages
/// only), so neither thread waits for the other for ever.
class Win32PanelView : public PanelView {
  public:
    /// dialog: the panel, whose window may not exist yet; state: the panel's state, which
    /// RefreshPanel draws.
    Win32PanelView(const CDialog& dialog, PanelState& state);

    void SetText(int control, const char* text) override;
    void SetBarPos(int bar, int32_t pos) override;
    uint32_t GetAddress(int control) override;
    void SetAddress(int control, uint32_t address) override;
    void EnableControl(int control, bool enable) override;
    void CheckRadio(int control, bool checked) override;
    void SetPicture(int control, int bitmap) override;
    ImageHandle SwapInPicture(int control, int bitmap) override;
    void RestorePicture(int control, ImageHandle shown) override;
    void ShowMessage(const char* text) override;
    void RefreshPanel() override;
    void WaitForSession(Clock::Duration step) override;

  private:
    HWND Window() const { return m_dialog.m_hWnd; }
    LRESULT Send(int control, UINT msg, WPARAM wParam, LPARAM lParam);
    /// Puts image into a picture control; returns the image the control gives back.
    HBITMAP PutPicture(int control, HBITMAP image);

    const CDialog& m_dialog;
    PanelState& m_state;
};

}  // namespace vantrel

#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>

#include "app/dialog.h"
#include "app/handles.h"
#include "presenters/panel_state.h"
#include "presenters/panel_view.h"

namespace vantrel {

/// The panel's controls as the core updates them. The session calls from its own thread:
/// every update is a message sent to a control (SendMessage), which the window's thread
/// delivers, also while it waits on the session (WaitForSession delivers sent messages only),
/// so neither thread waits for the other for ever.
///
/// It also keeps count of the bitmaps that the panel's pictures hold, loaded and freed here,
/// so a leak shows even where the system's own GDI counts are not kept (Wine).
class Win32PanelView : public PanelView {
  public:
    /// dialog: the panel, whose window may not exist yet.
    explicit Win32PanelView(const CDialog& dialog);

    void SetText(int control, const char* text) override;
    void SetBarPos(int bar, int32_t pos) override;
    uint32_t GetAddress(int control) override;
    void SetAddress(int control, uint32_t address) override;
    void EnableControl(int control, bool enable) override;
    void ShowControl(int control, bool show) override;
    void CheckRadio(int control, bool checked) override;
    void SetPicture(int control, int bitmap) override;
    ImageHandle SwapInPicture(int control, int bitmap) override;
    void RestorePicture(int control, ImageHandle shown) override;
    void DeleteImage(ImageHandle image) override;
    int32_t ComSelection() override;
    void ShowWaitCursor(bool wait) override;
    void ShowMessage(const char* text) override;
    /// Waits up to `step`, delivering sent messages, and returns early when WakeWait is called.
    void WaitForSession(Clock::Duration step) override;
    /// Ends a WaitForSession under way (or the next one) at once; any thread may call it. The
    /// panel calls it whenever the command code or the link flag is stored.
    void WakeWait();

    /// Counts the pictures that the dialog template put into the window, once it exists.
    void CountTemplatePictures();
    /// Takes every picture out of the window's controls and frees it; the controls would not.
    void FreePictures();
    /// Bitmaps held by the panel's pictures and its pressed-picture slots.
    int LiveBitmaps() const { return m_nLiveBitmaps; }
    /// Shows every picture, and loads every later one, from the bitmaps made for dpi; the
    /// count of held bitmaps stays as it was.
    void ShowAtDpi(int dpi);

  private:
    HWND Window() const { return m_dialog.m_hWnd; }
    LRESULT Send(int control, UINT msg, WPARAM wParam, LPARAM lParam);
    HBITMAP LoadPicture(int bitmap);
    void Free(HBITMAP bitmap);
    /// Puts image into a picture control and returns the image it gives back; a control that
    /// is gone cannot take it, so the image is freed.
    HBITMAP PutPicture(int control, HBITMAP image);
    /// The resource id of a bitmap loaded here; 0 for one the template put in.
    int BitmapId(HBITMAP bitmap);

    const CDialog& m_dialog;
    std::atomic<int> m_nLiveBitmaps{0};
    std::atomic<int> m_nDpi{96};
    std::mutex m_idsLock;  // the session loads and frees pictures too
    std::map<HBITMAP, int> m_ids;
    UniqueHandle m_wake{CreateEventA(nullptr, FALSE, FALSE, nullptr)};  // auto-reset
};

}  // namespace vantrel

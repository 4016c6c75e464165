#pragma once

#include <cstdint>

#include "unit/clock.h"

namespace vantrel {

/// An image that a picture control gave back when another was put in, kept so it can be put
/// back later. Opaque to the core; the window stores its bitmap handle in it.
enum class ImageHandle : std::uintptr_t { kNone = 0 };

/// The control updates that the core makes on the panel window. It is an interface so that the
/// core stays free of the windowing system and tests can record the calls. The session calls
/// it from its own thread; the window's implementation delivers the calls on its thread.
class PanelView {
  public:
    virtual ~PanelView() = default;

    virtual void SetText(int control, const char* text) = 0;
    virtual void SetBarPos(int bar, int32_t pos) = 0;
    /// An IP-address control's value, first octet in the top byte; a blank field reads 0.
    virtual uint32_t GetAddress(int control) = 0;
    virtual void SetAddress(int control, uint32_t address) = 0;
    virtual void EnableControl(int control, bool enable) = 0;
    virtual void ShowControl(int control, bool show) = 0;
    virtual void CheckRadio(int control, bool checked) = 0;
    /// Loads a bitmap, puts it into a picture control and deletes the image given back.
    virtual void SetPicture(int control, int bitmap) = 0;
    /// Puts a bitmap into a picture control and returns the image given back, for
    /// RestorePicture.
    virtual ImageHandle SwapInPicture(int control, int bitmap) = 0;
    /// Puts a kept image back and deletes the one it replaces.
    virtual void RestorePicture(int control, ImageHandle shown) = 0;
    /// Deletes a kept image that is not put back.
    virtual void DeleteImage(ImageHandle image) = 0;
    /// The index of the COM port list's selection; -1 when nothing is selected.
    virtual int32_t ComSelection() = 0;
    /// The wait cursor while the window's thread is busy, or the arrow again.
    virtual void ShowWaitCursor(bool wait) = 0;
    /// A message box owned by the panel, empty caption, OK button; returns when it is closed.
    virtual void ShowMessage(const char* text) = 0;
    /// One step of a window-thread wait on the session. It must keep delivering the calls the
    /// session makes on the window meanwhile, or neither thread could go on.
    virtual void WaitForSession(Clock::Duration step) = 0;
};

}  // namespace vantrel

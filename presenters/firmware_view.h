#pragma once

#include <cstdint>

namespace vantrel {

/// What the firmware dialog shows. Abstract so that tests record the
/// calls; the dialog implements it with window calls that its own thread carries out.
class FirmwareView {
  public:
    enum class Cursor : std::uint8_t { Arrow, Wait };

    virtual ~FirmwareView() = default;
    virtual void SetText(int control, const char* text) = 0;
    /// The progress bar's range, 0 to maximum.
    virtual void SetProgressRange(std::uint16_t maximum) = 0;
    virtual void SetProgressPos(int position) = 0;
    virtual void EnableControl(int control, bool enable) = 0;
    virtual void SetCursor(Cursor cursor) = 0;
    /// A message box owned by the dialog, with an empty caption and an OK button.
    virtual void ShowMessage(const char* text) = 0;
};

}  // namespace vantrel

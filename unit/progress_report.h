#pragma once

#include "firmware/firmware_record.h"
#include "firmware/firmware_view.h"
#include "unit/unit_link.h"

namespace vantrel {

/// The firmware dialog as a unit link plays it: the progress bar passed on as bytes of the
/// image, everything meant for a person dropped (the procedures' outcomes say what happened).
class ProgressReport : public firmware::FirmwareView {
  public:
    /// `image`: the slot the procedure fills, whose length the bar stands for.
    ProgressReport(const FirmwareProgress& report, const firmware::ImageSlot& image)
        : m_report(report), m_image(image) {}

    void SetText(int, const char*) override {}
    void SetProgressRange(std::uint16_t maximum) override { m_maximum = maximum; }
    void SetProgressPos(int position) override {
        if (m_report) m_report(ProgressBytes(m_image.length, position, m_maximum), m_image.length);
    }
    void EnableControl(int, bool) override {}
    void SetCursor(Cursor) override {}
    void ShowMessage(const char*) override {}

  private:
    const FirmwareProgress m_report;
    const firmware::ImageSlot& m_image;
    std::int64_t m_maximum = 0;
};

}  // namespace vantrel

#pragma once

#include <mutex>
#include <string>

#include "cli/unit_link.h"
#include "firmware/firmware_ids.h"
#include "firmware/firmware_view.h"

namespace vantrel::cli {

/// The firmware dialog as the tool plays it: the main group's status text, and the progress
/// bar passed on as a report.
class ProgressView : public firmware::FirmwareView {
  public:
    explicit ProgressView(ProgressReport report) : m_report(std::move(report)) {}

    std::string Status() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_status;
    }
    void SetText(int control, const char* text) override {
        if (control != firmware::kMainStatusText && control != firmware::kNetStatusText) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = text;
    }
    void SetProgressRange(std::uint16_t maximum) override { m_maximum = maximum; }
    void SetProgressPos(int position) override {
        if (m_report) m_report(position, m_maximum);
    }
    void EnableControl(int, bool) override {}
    void SetCursor(Cursor) override {}
    void ShowMessage(const char* text) override { SetText(firmware::kMainStatusText, text); }

  private:
    ProgressReport m_report;
    int m_maximum = 0;
    mutable std::mutex m_mutex;
    std::string m_status;
};

/// The procedures' own word for a finished update.
constexpr char kFirmwareUpdated[] = "Firmware Updated!";

}  // namespace vantrel::cli

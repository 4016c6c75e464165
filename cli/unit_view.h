#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/unit_link.h"
#include "link/panel_view.h"
#include "link/panel_state.h"

namespace vantrel::cli {

/// The panel as the command-line tool plays it: the same session and handlers update it, and
/// the tool reads back what they showed (texts, addresses, messages). Nothing is drawn.
class UnitView : public PanelView {
  public:
    explicit UnitView(PanelState& state) : m_state(state) {}

    std::string Text(int control) const;
    /// The message boxes shown since the last call, oldest first.
    std::vector<std::string> TakeMessages();
    /// The message boxes since the last call, as an outcome: "Finish!" is the unit's
    /// confirmation; any other message, or none, is not.
    Outcome TakeConfirmation();
    /// What the session or handlers last showed of the unit: lamps, levels, input, addresses,
    /// address mode and MAC (the versions are the caller's).
    void FillStatus(UnitStatus& status) const;
    /// How many status updates have come in.
    int Refreshes() const { return m_refreshes; }

    void SetText(int control, const char* text) override;
    void SetBarPos(int, int32_t) override {}
    uint32_t GetAddress(int control) override;
    void SetAddress(int control, uint32_t address) override;
    void EnableControl(int, bool) override {}
    void ShowControl(int, bool) override {}
    void CheckRadio(int, bool) override {}
    void SetPicture(int, int) override {}
    ImageHandle SwapInPicture(int, int) override { return ImageHandle::kNone; }
    void RestorePicture(int, ImageHandle) override {}
    void DeleteImage(ImageHandle) override {}
    int32_t ComSelection() override { return 0; }
    void ShowWaitCursor(bool) override {}
    void ShowMessage(const char* text) override;
    void RefreshPanel() override;
    void WaitForSession(Clock::Duration step) override;

  private:
    PanelState& m_state;
    mutable std::mutex m_mutex;
    std::map<int, std::string> m_texts;
    std::map<int, uint32_t> m_addresses;
    std::vector<std::string> m_messages;
    std::atomic<int> m_refreshes{0};
};

}  // namespace vantrel::cli

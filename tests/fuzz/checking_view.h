#pragma once

#include <cstdint>
#include <cstring>

#include "presenters/control_ids.h"
#include "presenters/control_table.h"
#include "presenters/panel_state.h"
#include "presenters/panel_view.h"
#include "presenters/refresh_panel.h"
#include "tests/fuzz/fuzz_check.h"

namespace vantrel::fuzzing {

/// A panel window that holds every control update to what the window can show: known
/// controls, known pictures with their own bitmaps, texts the session writes, bar positions
/// that are the levels of the state, swapped pictures put back. The refresh is the real one.
class CheckingView : public PanelView {
  public:
    explicit CheckingView(PanelState& state) : m_state(state) {}

    bool SwapsBalanced() const { return m_swapped == 0; }

    void SetText(int control, const char* text) override {
        if (control == kMacText) {
            Require(IsMacText(text), "the MAC text is twelve upper-case hex digits");
            return;
        }
        Require(control == kStatusText, "texts go to the status text or the MAC text");
        Require(std::strcmp(text, "Login success!") == 0 || std::strcmp(text, "Disconnect!") == 0 ||
                    std::strcmp(text, "Connect to device fail.") == 0,
                "the status text is one of the session's own");
    }

    void SetBarPos(int bar, std::int32_t pos) override {
        Require(bar >= kVolumeBar && bar <= LevelBar(3), "bars are 1010 to 1013");
        Require(pos == m_state.m_levels[bar - kVolumeBar], "a bar shows its level");
    }

    std::uint32_t GetAddress(int control) override { return m_addresses[AddressSlot(control)]; }

    void SetAddress(int control, std::uint32_t address) override {
        m_addresses[AddressSlot(control)] = address;
    }

    void EnableControl(int control, bool) override {
        Require(control == kIpAddress || control == kMaskAddress || control == kGatewayAddress,
                "only the address fields are enabled and disabled");
    }

    void CheckRadio(int control, bool) override {
        Require(control == kStaticIpRadio || control == kDhcpRadio,
                "only the IP mode radios are checked");
    }

    void SetPicture(int control, int bitmap) override {
        Require(IsPictureOf(control, bitmap), "a picture shows one of its own bitmaps");
    }

    ImageHandle SwapInPicture(int control, int bitmap) override {
        Require((control == kReadPicture && bitmap == kBmpReadLit) ||
                    (control == kApplyPicture && bitmap == kBmpApplyLit),
                "the session swaps only the lit Read and Apply pictures in");
        Require(m_swapped == 0, "one swap at a time");
        m_swapped = control;
        return static_cast<ImageHandle>(control);
    }

    void RestorePicture(int control, ImageHandle shown) override {
        Require(control == m_swapped && shown == static_cast<ImageHandle>(control),
                "a swapped picture is put back with the image it gave back");
        m_swapped = 0;
    }

    void ShowMessage(const char* text) override {
        Require(std::strcmp(text, "Finish!") == 0 || std::strcmp(text, "Fail!") == 0,
                "the session's only messages are \"Finish!\" and \"Fail!\"");
    }

    // The window's thread alone shows and hides controls, reads the COM list, sets the cursor
    // and drops kept images.
    void ShowControl(int, bool) override { Require(false, "the session shows no control"); }
    void DeleteImage(ImageHandle) override { Require(false, "the session keeps no image"); }
    std::int32_t ComSelection() override {
        Require(false, "the session reads no COM port");
        return -1;
    }
    void ShowWaitCursor(bool) override { Require(false, "the session sets no cursor"); }

    void WaitForSession(Clock::Duration) override {
        Require(false, "the session never waits on itself");
    }

  private:
    static bool IsMacText(const char* text) {
        if (std::strlen(text) != 12) return false;
        for (const char* c = text; *c != '\0'; ++c) {
            if (!((*c >= '0' && *c <= '9') || (*c >= 'A' && *c <= 'F'))) return false;
        }
        return true;
    }

    static bool IsPictureOf(int control, int bitmap) {
        if (const ControlButton* button = FindControlButton(control)) {
            return bitmap == button->normalBitmap || bitmap == button->activeBitmap;
        }
        if (control == kConnectPicture)
            return bitmap == kBmpConnectGrey || bitmap == kBmpConnectLit;
        if (control == kDisconnectPicture) {
            return bitmap == kBmpDisconnectGrey || bitmap == kBmpDisconnectLit;
        }
        return false;
    }

    static int AddressSlot(int control) {
        switch (control) {
            case kIpAddress:
                return 0;
            case kMaskAddress:
                return 1;
            case kGatewayAddress:
                return 2;
            case kConnectAddress:
                return 3;
        }
        Require(false, "addresses live in 1028, 1029, 1030 and 1036");
        return 0;
    }

    PanelState& m_state;
    std::uint32_t m_addresses[4] = {0, 0, 0, 0x7F000002};
    int m_swapped = 0;
};

}  // namespace vantrel::fuzzing

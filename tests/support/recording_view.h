#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "presenters/panel_view.h"

namespace vantrel::testing {

/// A panel that records every control update as one line of text, in order:
///   "text 1008 Login success!", "bar 1010 12", "address 1028 10.0.0.5", "enable 1028 1",
///   "check 1032 1", "show 1023 1", "picture 1049 250", "swap 1055 248", "restore 1055",
///   "delete image", "cursor wait", "cursor arrow", "message Finish!".
/// Address controls hold values that tests preset and that SetAddress changes. Waits are
/// counted apart from the calls; by default a wait sleeps 1 ms of real time, so a thread the
/// test waits on can run.
class RecordingView : public PanelView {
  public:
    std::function<void(Clock::Duration)> onWait;
    std::function<void(const std::string&)> onMessage;
    int32_t comSelection = 0;

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    void ClearCalls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }
    bool Called(const std::string& call) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const std::string& c : m_calls) {
            if (c == call) return true;
        }
        return false;
    }
    std::vector<long long> Waits() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waits;
    }
    std::string Text(int control) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_texts.find(control);
        return it == m_texts.end() ? "" : it->second;
    }
    void PresetAddress(int control, uint32_t address) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_addresses[control] = address;
    }
    /// Whether every picture swapped in has been restored with the image it gave back.
    bool SwapsBalanced() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_swapped.empty() && m_badRestores == 0;
    }

    static std::string Dotted(uint32_t a) {
        char text[16];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255,
                      a & 255);
        return text;
    }

    void SetText(int control, const char* text) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_texts[control] = text;
        }
        Record("text " + std::to_string(control) + " " + text);
    }
    void SetBarPos(int bar, int32_t pos) override {
        Record("bar " + std::to_string(bar) + " " + std::to_string(pos));
    }
    uint32_t GetAddress(int control) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_addresses.find(control);
        return it == m_addresses.end() ? 0 : it->second;
    }
    void SetAddress(int control, uint32_t address) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_addresses[control] = address;
        }
        Record("address " + std::to_string(control) + " " + Dotted(address));
    }
    void EnableControl(int control, bool enable) override {
        Record("enable " + std::to_string(control) + " " + (enable ? "1" : "0"));
    }
    void ShowControl(int control, bool show) override {
        Record("show " + std::to_string(control) + " " + (show ? "1" : "0"));
    }
    void CheckRadio(int control, bool checked) override {
        Record("check " + std::to_string(control) + " " + (checked ? "1" : "0"));
    }
    void SetPicture(int control, int bitmap) override {
        Record("picture " + std::to_string(control) + " " + std::to_string(bitmap));
    }
    ImageHandle SwapInPicture(int control, int bitmap) override {
        Record("swap " + std::to_string(control) + " " + std::to_string(bitmap));
        std::lock_guard<std::mutex> lock(m_mutex);
        ImageHandle shown = static_cast<ImageHandle>(++m_nextImage);
        m_swapped[control] = shown;
        return shown;
    }
    void RestorePicture(int control, ImageHandle shown) override {
        Record("restore " + std::to_string(control));
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_swapped.find(control);
        if (it == m_swapped.end() || it->second != shown) {
            ++m_badRestores;
        } else {
            m_swapped.erase(it);
        }
    }
    void DeleteImage(ImageHandle image) override {
        Record("delete image");
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_swapped.begin(); it != m_swapped.end(); ++it) {
            if (it->second != image) continue;
            m_swapped.erase(it);
            return;
        }
        ++m_badRestores;
    }
    int32_t ComSelection() override { return comSelection; }
    void ShowWaitCursor(bool wait) override { Record(wait ? "cursor wait" : "cursor arrow"); }
    void ShowMessage(const char* text) override {
        Record(std::string("message ") + text);
        if (onMessage) onMessage(text);
    }
    void WaitForSession(Clock::Duration step) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_waits.push_back(step.count());
        }
        if (onWait) {
            onWait(step);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

  private:
    void Record(const std::string& call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<long long> m_waits;
    std::map<int, std::string> m_texts;
    std::map<int, uint32_t> m_addresses;
    std::map<int, ImageHandle> m_swapped;
    std::uintptr_t m_nextImage = 0x1000;
    int m_badRestores = 0;
};

}  // namespace vantrel::testing

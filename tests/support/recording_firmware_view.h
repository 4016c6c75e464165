#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "presenters/firmware_view.h"

namespace vantrel::testing {

/// A firmware dialog that records every update as one line of text, in order:
///   "text 1027 COM port Connected!", "range 3", "pos 1", "enable 1012", "cursor wait",
///   "message COM port is occupied!".
class RecordingFirmwareView : public FirmwareView {
  public:
    /// Called with each status text as it is set, before SetText returns.
    std::function<void(int control, const std::string& text)> onText;

    std::vector<std::string> Calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    /// The calls of one kind ("text 1027", "pos", "enable"), without that prefix.
    std::vector<std::string> Calls(const std::string& kind) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> found;
        for (const std::string& call : m_calls) {
            if (call.compare(0, kind.size() + 1, kind + " ") == 0) {
                found.push_back(call.substr(kind.size() + 1));
            }
        }
        return found;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.clear();
    }
    std::string Text(int control) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_texts.find(control);
        return it == m_texts.end() ? "" : it->second;
    }

    void SetText(int control, const char* text) override {
        Record("text " + std::to_string(control) + " " + text);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_texts[control] = text;
        }
        if (onText) onText(control, text);
    }
    void SetProgressRange(std::uint16_t maximum) override {
        Record("range " + std::to_string(maximum));
    }
    void SetProgressPos(int position) override { Record("pos " + std::to_string(position)); }
    void EnableControl(int control, bool enable) override {
        Record((enable ? "enable " : "disable ") + std::to_string(control));
    }
    void SetCursor(Cursor cursor) override {
        Record(cursor == Cursor::Wait ? "cursor wait" : "cursor arrow");
    }
    void ShowMessage(const char* text) override { Record(std::string("message ") + text); }

  private:
    void Record(const std::string& call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::map<int, std::string> m_texts;
};

}  // namespace vantrel::testing

#pragma once

#include <windows.h>

#include <vector>

namespace vantrel::testing {

/// A dialog template built in memory, laid out as the resource compiler lays out a
/// DIALOG resource, so tests can make real dialogs without a resource file.
class InMemoryDialog {
  public:
    InMemoryDialog(DWORD style, short cx, short cy) {
        AddDword(style);
        AddDword(0);           // extended style
        m_words.push_back(0);  // item count, counted up by AddControl
        m_words.insert(m_words.end(), {0, 0, static_cast<WORD>(cx), static_cast<WORD>(cy)});
        m_words.insert(m_words.end(), {0, 0, 0});  // no menu, default class, empty title
    }

    /// A control of a predefined class (0x0080 button, 0x0081 edit, 0x0082 static,
    /// 0x0085 combo box) with an empty text.
    InMemoryDialog& AddControl(WORD classAtom, WORD id, DWORD style, short x, short y, short cx,
                               short cy) {
        if (m_words.size() % 2) {
            m_words.push_back(0);  // items start on a DWORD boundary
        }
        AddDword(style | WS_CHILD | WS_VISIBLE);
        AddDword(0);
        m_words.insert(m_words.end(), {static_cast<WORD>(x), static_cast<WORD>(y),
                                       static_cast<WORD>(cx), static_cast<WORD>(cy), id});
        m_words.insert(m_words.end(), {0xFFFF, classAtom, 0, 0});  // class, text, no data
        ++m_words[kItemCountIndex];
        return *this;
    }

    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

  private:
    static constexpr size_t kItemCountIndex = 4;

    void AddDword(DWORD value) {
        m_words.push_back(LOWORD(value));
        m_words.push_back(HIWORD(value));
    }

    std::vector<WORD> m_words;
};

}  // namespace vantrel::testing

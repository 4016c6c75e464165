#pragma once

#include <windows.h>

namespace vantrel {

/// A memory device context that puts back the bitmap it was created with before it is
/// deleted, so a bitmap selected into it is free again afterwards. Destroy() and the
/// destructor are safe to run any number of times.
class MemoryDc {
  public:
    /// A memory context compatible with dc; Get() is nullptr when it cannot be created.
    explicit MemoryDc(HDC dc) : m_hDc(CreateCompatibleDC(dc)) {}
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    ~MemoryDc() { Destroy(); }

    HDC Get() const { return m_hDc; }
    explicit operator bool() const { return m_hDc != nullptr; }

    /// Selects bitmap into the context; false when it cannot be selected.
    bool SelectBitmap(HBITMAP bitmap) {
        if (!m_hDc) {
            return false;
        }
        HGDIOBJ previous = SelectObject(m_hDc, bitmap);
        if (!previous || previous == HGDI_ERROR) {
            return false;
        }
        if (!m_hOriginalBitmap) {
            m_hOriginalBitmap = previous;
        }
        return true;
    }

    void Destroy() {
        if (!m_hDc) {
            return;
        }
        if (m_hOriginalBitmap) {
            SelectObject(m_hDc, m_hOriginalBitmap);
        }
        DeleteDC(m_hDc);
        m_hDc = nullptr;
        m_hOriginalBitmap = nullptr;
    }

  private:
    HDC m_hDc;
    HGDIOBJ m_hOriginalBitmap = nullptr;
};

}  // namespace vantrel

#pragma once

#include <windows.h>

namespace vantrel {

/// Owns one Win32 handle and closes it with the call that its Traits name. Destroy() and
/// the destructor are safe to run any number of times.
template <class Traits>
class UniqueOwner {
  public:
    using Handle = typename Traits::Handle;

    UniqueOwner() = default;
    explicit UniqueOwner(Handle handle) : m_handle(handle) {}
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;
    UniqueOwner(UniqueOwner&& other) noexcept : m_handle(other.Detach()) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept {
        Attach(other.Detach());
        return *this;
    }
    ~UniqueOwner() { Destroy(); }

    Handle Get() const { return m_handle; }
    explicit operator bool() const { return Traits::IsValid(m_handle); }

    /// Takes ownership of handle, closing the one held before (unless it is the same).
    void Attach(Handle handle) {
        if (handle != m_handle) {
            Destroy();
            m_handle = handle;
        }
    }
    /// Gives the handle up without closing it.
    Handle Detach() {
        Handle handle = m_handle;
        m_handle = Handle{};
        return handle;
    }
    void Destroy() {
        if (Traits::IsValid(m_handle)) {
            Traits::Close(m_handle);
        }
        m_handle = Handle{};
    }

  private:
    Handle m_handle{};
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static bool IsValid(HANDLE handle) { return handle && handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};

struct BitmapTraits {
    using Handle = HBITMAP;
    static bool IsValid(HBITMAP bitmap) { return bitmap != nullptr; }
    static void Close(HBITMAP bitmap) { DeleteObject(bitmap); }
};

struct IconTraits {
    using Handle = HICON;
    static bool IsValid(HICON icon) { return icon != nullptr; }
    static void Close(HICON icon) { DestroyIcon(icon); }
};

struct FontTraits {
    using Handle = HFONT;
    static bool IsValid(HFONT font) { return font != nullptr; }
    static void Close(HFONT font) { DeleteObject(font); }
};

/// Events, threads, files and COM ports (CloseHandle).
using UniqueHandle = UniqueOwner<KernelHandleTraits>;
/// Bitmaps (DeleteObject).
using BitmapHandle = UniqueOwner<BitmapTraits>;
/// Icons loaded without LR_SHARED (DestroyIcon).
using IconHandle = UniqueOwner<IconTraits>;
/// Fonts (DeleteObject).
using FontHandle = UniqueOwner<FontTraits>;

}  // namespace vantrel

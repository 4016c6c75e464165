// Reads an extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items) out of the
// program's resources, so tests can compare a template with the layout it must have.
#ifndef VANTREL_TESTS_WINDOWS_DIALOG_TEMPLATE_READER_H
#define VANTREL_TESTS_WINDOWS_DIALOG_TEMPLATE_READER_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::testing {

// A name-or-ordinal field: an ordinal when `ordinal` is non-zero, else the text.
struct NameOrOrdinal {
    std::uint16_t ordinal = 0;
    std::wstring text;
};

struct DialogItem {
    DWORD exStyle = 0;
    DWORD style = 0;
    RECT rect{};  // left, top, width, height as the template stores them
    DWORD id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
};

struct DialogTemplate {
    DWORD exStyle = 0;
    DWORD style = 0;
    RECT rect{};
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::wstring title;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// The class name of a control, with the predefined classes' ordinals (0x80..0x85) turned
// into their names as CreateWindow knows them.
inline std::wstring ClassName(const NameOrOrdinal& cls) {
    static const wchar_t* const kPredefined[] = {L"Button",  L"Edit",      L"Static",
                                                 L"ListBox", L"ScrollBar", L"ComboBox"};
    if (cls.ordinal >= 0x80 && cls.ordinal <= 0x85) return kPredefined[cls.ordinal - 0x80];
    return cls.text;
}

class DialogTemplateReader {
  public:
    DialogTemplateReader(const BYTE* data, std::size_t size) : data_(data), size_(size) {}

    // The template, or nothing when it is not an extended template or runs past its end.
    std::optional<DialogTemplate> Read() {
        DialogTemplate dlg;
        WORD version = Word(), signature = Word();
        if (version != 1 || signature != 0xFFFF) return std::nullopt;
        Dword();  // help id
        dlg.exStyle = Dword();
        dlg.style = Dword();
        WORD count = Word();
        dlg.rect = Rect();
        dlg.menu = Field();
        dlg.windowClass = Field();
        dlg.title = String();
        if (dlg.style & (DS_SETFONT | DS_SHELLFONT)) {
            dlg.pointSize = Word();
            dlg.weight = Word();
            dlg.italic = Byte();
            dlg.charset = Byte();
            dlg.typeface = String();
        }
        for (WORD i = 0; i < count && ok_; ++i) dlg.items.push_back(Item());
        if (!ok_) return std::nullopt;
        return dlg;
    }

  private:
    DialogItem Item() {
        Align(4);
        DialogItem item;
        Dword();  // help id
        item.exStyle = Dword();
        item.style = Dword();
        item.rect = Rect();
        item.id = Dword();
        item.windowClass = Field();
        item.title = Field();
        WORD extra = Word();
        Skip(extra);
        return item;
    }

    RECT Rect() {
        RECT r;
        r.left = static_cast<SHORT>(Word());
        r.top = static_cast<SHORT>(Word());
        r.right = static_cast<SHORT>(Word());
        r.bottom = static_cast<SHORT>(Word());
        return r;
    }

    NameOrOrdinal Field() {
        NameOrOrdinal field;
        Align(2);
        if (Peek() == 0xFFFF) {
            Word();
            field.ordinal = Word();
        } else {
            field.text = String();
        }
        return field;
    }

    std::wstring String() {
        Align(2);
        std::wstring s;
        while (ok_) {
            WORD c = Word();
            if (c == 0) break;
            s.push_back(static_cast<wchar_t>(c));
        }
        return s;
    }

    WORD Peek() {
        std::size_t at = pos_;
        WORD w = Word();
        pos_ = at;
        return w;
    }

    BYTE Byte() { return static_cast<BYTE>(Take(1)); }
    WORD Word() { return static_cast<WORD>(Take(2)); }
    DWORD Dword() { return Take(4); }

    DWORD Take(std::size_t n) {
        if (!ok_ || pos_ + n > size_) {
            ok_ = false;
            return 0;
        }
        DWORD v = 0;
        for (std::size_t i = 0; i < n; ++i) v |= static_cast<DWORD>(data_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }

    void Skip(std::size_t n) {
        if (pos_ + n > size_) ok_ = false;
        pos_ += n;
    }

    void Align(std::size_t n) { pos_ = (pos_ + n - 1) / n * n; }

    const BYTE* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace vantrel::testing

#endif

#include "panel/accessible_controls.h"

#include <commctrl.h>

#include "panel/control_names.h"

namespace vantrel {

namespace {

constexpr UINT_PTR kPictureSubclass = 1;

bool IsActivationKey(WPARAM key) { return key == VK_SPACE || key == VK_RETURN; }

// The dotted focus rectangle, inside the bevel, clipped to what was just painted: an XOR drawn
// over an unpainted part would take away the one drawn there before.
void DrawFocusCue(HWND picture, HRGN painted) {
    RECT face{};
    GetClientRect(picture, &face);
    const int inset = (face.bottom - face.top) / 8;
    InflateRect(&face, -inset, -inset);
    HDC dc = GetDC(picture);
    SelectClipRgn(dc, painted);
    DrawFocusRect(dc, &face);
    ReleaseDC(picture, dc);
}

LRESULT CALLBACK PictureProc(HWND picture, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR) {
    switch (msg) {
        case WM_GETDLGCODE: {
            // Enter would otherwise be the dialog's OK.
            const auto* key = reinterpret_cast<const MSG*>(lParam);
            LRESULT code = DefSubclassProc(picture, msg, wParam, lParam);
            if (key && key->message == WM_KEYDOWN && IsActivationKey(key->wParam)) {
                code |= DLGC_WANTMESSAGE;
            }
            return code;
        }
        case WM_KEYDOWN:
            if (IsActivationKey(wParam) && !(lParam & (1 << 30))) {  // not a held key's repeat
                SendMessageA(GetParent(picture), WM_COMMAND,
                             MAKEWPARAM(GetDlgCtrlID(picture), STN_CLICKED),
                             reinterpret_cast<LPARAM>(picture));
                return 0;
            }
            break;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            InvalidateRect(picture, nullptr, FALSE);
            break;
        case WM_PAINT: {
            if (GetFocus() != picture) break;
            HRGN update = CreateRectRgn(0, 0, 0, 0);
            GetUpdateRgn(picture, update, FALSE);
            const LRESULT result = DefSubclassProc(picture, msg, wParam, lParam);
            DrawFocusCue(picture, update);
            DeleteObject(update);
            return result;
        }
        case WM_SETTEXT:
            // The name alone: a bitmap static would take a text for a bitmap's name and drop it.
            return IsWindowUnicode(picture) ? DefWindowProcW(picture, msg, wParam, lParam)
                                            : DefWindowProcA(picture, msg, wParam, lParam);
        case WM_NCDESTROY:
            RemoveWindowSubclass(picture, PictureProc, kPictureSubclass);
            break;
    }
    return DefSubclassProc(picture, msg, wParam, lParam);
}

void AddTabStop(HWND control) {
    SetWindowLongA(control, GWL_STYLE, GetWindowLongA(control, GWL_STYLE) | WS_TABSTOP);
}

// A visible static of no size right before control in z-order: a label no one sees but MSAA
// finds, as the captions themselves are painted in the background.
void PutLabelBefore(HWND dialog, HWND control, const char* caption) {
    HWND label = CreateWindowExA(0, "Static", caption,
                                 WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT | SS_NOPREFIX, 0, 0, 0,
                                 0, dialog, nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND previous = GetWindow(control, GW_HWNDPREV);
    SetWindowPos(label, previous ? previous : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace

void MakeAccessible(HWND dialog) {
    int count = 0;
    const PictureName* pictures = PictureNames(&count);
    for (int i = 0; i < count; ++i) {
        HWND picture = GetDlgItem(dialog, pictures[i].control);
        if (!picture) continue;
        SetWindowSubclass(picture, PictureProc, kPictureSubclass, 0);
        AddTabStop(picture);
        SetWindowTextA(picture, pictures[i].label);
    }
    const CaptionName* radios = RadioNames(&count);
    for (int i = 0; i < count; ++i) {
        HWND radio = GetDlgItem(dialog, radios[i].control);
        AddTabStop(radio);
        SetWindowTextA(radio, radios[i].caption);
    }
    const CaptionName* captions = CaptionNames(&count);
    for (int i = 0; i < count; ++i) {
        PutLabelBefore(dialog, GetDlgItem(dialog, captions[i].control), captions[i].caption);
    }
}

void NamePicture(HWND picture, int bitmap) {
    if (const PictureName* name = FindPictureName(GetDlgCtrlID(picture))) {
        SetWindowTextA(picture, PictureNameShowing(*name, bitmap).c_str());
    }
}

}  // namespace vantrel

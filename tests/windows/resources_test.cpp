// The panel's resources as the program finds them at run time: the dialog template and its
// controls, the bitmaps, the icon, the manifest and the version.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/windows/dialog_template_reader.h"

namespace vantrel {
namespace resources_test {
namespace {

struct Resource {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

Resource FindRes(LPCSTR type, int id) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    return {static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(module, found)};
}

// --- the dialog template -------------------------------------------------------------------

constexpr DWORD kShown = WS_VISIBLE;
constexpr DWORD kPicture = WS_VISIBLE | SS_BITMAP | SS_NOTIFY;
constexpr DWORD kRadio = WS_VISIBLE | BS_AUTORADIOBUTTON;
constexpr DWORD kNoId = 0xFFFFFFFF;

struct ControlRow {
    DWORD id;
    const wchar_t* cls;
    RECT rect;    // left, top, right, bottom in dialog units
    DWORD style;  // beyond WS_CHILD
    int bitmap;   // initial bitmap, 0 for a control that shows none
    const wchar_t* text;
};

// The panel's layout, in creation order.
const ControlRow kControls[] = {
    {1008, L"Static", {205, 20, 325, 39}, kShown | SS_LEFT | WS_GROUP, 0, L""},
    {kNoId, L"Static", {4, 2, 19, 17}, SS_BLACKFRAME, 0, L""},
    {1010, L"msctls_progress32", {474, 153, 597, 184}, kShown | WS_BORDER, 0, L""},
    {1023, L"ComboBox", {44, 63, 186, 93}, kShown | CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 0, L""},
    {1009, L"Button", {24, 24, 32, 34}, kRadio | WS_GROUP, 0, L""},
    {1019, L"Button", {106, 23, 114, 33}, kRadio, 0, L""},
    {1028, L"SysIPAddress32", {117, 145, 266, 169}, kShown | WS_DISABLED | WS_TABSTOP, 0, L""},
    {1029, L"SysIPAddress32", {117, 175, 267, 197}, kShown | WS_DISABLED | WS_TABSTOP, 0, L""},
    {1030, L"SysIPAddress32", {117, 202, 267, 227}, kShown | WS_DISABLED | WS_TABSTOP, 0, L""},
    {1031,
     L"Edit",
     {117, 230, 227, 258},
     kShown | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP,
     0,
     L""},
    {1032, L"Button", {38, 118, 46, 128}, kRadio | WS_GROUP | WS_DISABLED, 0, L""},
    {1033, L"Button", {114, 117, 122, 127}, kRadio | WS_DISABLED, 0, L""},
    {1036, L"SysIPAddress32", {42, 57, 190, 81}, kShown | WS_TABSTOP, 0, L""},
    {1038, L"Static", {398, 33, 485, 69}, kPicture, 225, nullptr},
    {1039, L"Static", {473, 34, 558, 69}, kPicture, 219, nullptr},
    {1040, L"Static", {550, 35, 635, 68}, kPicture | SS_REALSIZEIMAGE, 216, nullptr},
    {1041, L"Static", {625, 35, 710, 70}, kPicture, 214, nullptr},
    {1042, L"Static", {398, 69, 483, 104}, kPicture, 217, nullptr},
    {1043, L"Static", {472, 69, 558, 103}, kPicture, 215, nullptr},
    {1044, L"Static", {548, 70, 633, 103}, kPicture, 220, nullptr},
    {1045, L"Static", {547, 105, 632, 138}, kPicture, 212, nullptr},
    {1046, L"Static", {397, 104, 483, 139}, kPicture, 222, nullptr},
    {1047, L"Static", {470, 104, 555, 138}, kPicture, 209, nullptr},
    {1048, L"Static", {723, 327, 806, 387}, SS_BITMAP, 226, nullptr},
    {1049, L"Static", {202, 55, 273, 84}, kPicture, 227, nullptr},
    {1050, L"Static", {286, 55, 357, 83}, kPicture, 228, nullptr},
    {1051, L"Static", {397, 153, 452, 185}, kPicture, 208, nullptr},
    {1052, L"Static", {606, 153, 663, 184}, kPicture, 221, nullptr},
    {1053, L"Static", {678, 153, 739, 185}, kPicture, 213, nullptr},
    {1054, L"Static", {80, 322, 251, 372}, kPicture, 210, nullptr},
    {1055, L"Static", {32, 271, 118, 301}, kPicture, 218, nullptr},
    {1056, L"Static", {132, 271, 217, 300}, kPicture, 223, nullptr},
    {1011, L"msctls_progress32", {474, 194, 597, 225}, kShown | WS_BORDER, 0, L""},
    {1057, L"Static", {397, 194, 452, 226}, kPicture, 208, nullptr},
    {1058, L"Static", {606, 194, 663, 225}, kPicture, 221, nullptr},
    {1012, L"msctls_progress32", {474, 237, 597, 268}, kShown | WS_BORDER, 0, L""},
    {1059, L"Static", {397, 237, 452, 269}, kPicture, 208, nullptr},
    {1060, L"Static", {606, 237, 663, 268}, kPicture, 221, nullptr},
    {1013, L"msctls_progress32", {474, 280, 597, 311}, kShown | WS_BORDER, 0, L""},
    {1061, L"Static", {397, 280, 452, 312}, kPicture, 208, nullptr},
    {1062, L"Static", {606, 280, 663, 311}, kPicture, 221, nullptr},
    {1063, L"Static", {220, 322, 357, 363}, kPicture, 230, nullptr},
    {1066, L"Static", {12, 63, 38, 75}, kShown | SS_LEFT | WS_GROUP, 0, L"IP"},
    {kNoId, L"Static", {33, 372, 110, 380}, kShown | SS_LEFT | WS_GROUP, 0, L"Version 20220608"},
    {1064, L"Static", {229, 270, 314, 304}, kPicture, 254, nullptr},
    {1065, L"Static", {625, 71, 664, 89}, kPicture, 257, nullptr},
    {1067, L"Static", {697, 35, 764, 68}, kPicture, 259, nullptr},
    {1068, L"Static", {697, 72, 764, 105}, kPicture, 261, nullptr},
};

testing::DialogTemplate ReadPanelTemplate() {
    Resource res = FindRes(RT_DIALOG, IDD_PANEL);
    if (!res.data) return {};
    return testing::DialogTemplateReader(res.data, res.size)
        .Read()
        .value_or(testing::DialogTemplate{});
}

TEST(PanelTemplateTest, IsAFixedFrameDialogWithCaptionFontAndSize) {
    testing::DialogTemplate dlg = ReadPanelTemplate();
    EXPECT_EQ(dlg.title, L"Vantrel Control Panel");
    EXPECT_EQ(dlg.style, static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_SETFONT));
    EXPECT_EQ(dlg.style & (WS_VISIBLE | WS_THICKFRAME | WS_MAXIMIZEBOX), 0u);
    EXPECT_EQ(dlg.rect.right, 824);
    EXPECT_EQ(dlg.rect.bottom, 406);
    EXPECT_EQ(dlg.pointSize, 8);
    EXPECT_EQ(dlg.typeface, L"MS Sans Serif");
    EXPECT_EQ(dlg.menu.ordinal, 0);
    EXPECT_EQ(dlg.menu.text, L"");
    EXPECT_EQ(dlg.items.size(), 48u);
}

TEST(PanelTemplateTest, ControlsFollowTheLayoutInCreationOrder) {
    testing::DialogTemplate dlg = ReadPanelTemplate();
    ASSERT_EQ(dlg.items.size(), std::size(kControls));
    for (std::size_t i = 0; i < dlg.items.size(); ++i) {
        const testing::DialogItem& item = dlg.items[i];
        const ControlRow& row = kControls[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + ", id " + std::to_string(row.id));
        EXPECT_EQ(item.id, row.id);
        EXPECT_EQ(_wcsicmp(testing::ClassName(item.windowClass).c_str(), row.cls), 0)
            << "class " << std::string(item.windowClass.text.begin(), item.windowClass.text.end());
        EXPECT_EQ(item.rect.left, row.rect.left);
        EXPECT_EQ(item.rect.top, row.rect.top);
        EXPECT_EQ(item.rect.right, row.rect.right - row.rect.left);   // width
        EXPECT_EQ(item.rect.bottom, row.rect.bottom - row.rect.top);  // height
        EXPECT_EQ(item.style, WS_CHILD | row.style) << std::hex << item.style;
        EXPECT_EQ(item.exStyle, 0u);
        if (row.bitmap) {
            EXPECT_EQ(item.title.ordinal, row.bitmap);
        } else {
            EXPECT_EQ(item.title.ordinal, 0);
            EXPECT_EQ(item.title.text, row.text);
        }
    }
}

// The template as the dialog manager builds it: every class is known (common controls 6 through
// the manifest), the controls come in the listed order and the pictures take their bitmaps.
TEST(PanelTemplateTest, CreatesEveryControlWithItsInitialBitmap) {
    INITCOMMONCONTROLSEX icc{sizeof(icc),
                             ICC_STANDARD_CLASSES | ICC_INTERNET_CLASSES | ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&icc));
    HWND dlg = CreateDialogParamA(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PANEL), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_NE(dlg, nullptr) << GetLastError();

    LONG style = GetWindowLongW(dlg, GWL_STYLE);
    EXPECT_EQ(style & (WS_VISIBLE | WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0);

    std::size_t index = 0;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        ASSERT_LT(index, std::size(kControls));
        const ControlRow& row = kControls[index++];
        SCOPED_TRACE("control id " + std::to_string(row.id));
        EXPECT_EQ(GetDlgCtrlID(child), static_cast<int>(row.id));
        wchar_t cls[64] = {};
        GetClassNameW(child, cls, 64);
        EXPECT_EQ(_wcsicmp(cls, row.cls), 0);
        if (row.bitmap) {
            HBITMAP shown =
                reinterpret_cast<HBITMAP>(SendMessageW(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
            ASSERT_NE(shown, nullptr);
            BITMAP bm{};
            GetObjectW(shown, sizeof(bm), &bm);
            RECT rc{};
            GetClientRect(child, &rc);
            EXPECT_EQ(rc.right, bm.bmWidth) << "a picture takes its bitmap's size";
            EXPECT_EQ(rc.bottom, bm.bmHeight);
        }
    }
    EXPECT_EQ(index, std::size(kControls));
    EXPECT_TRUE(DestroyWindow(dlg));
}

// --- the firmware update dialog ------------------------------------------------------------

constexpr DWORD kPush = WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kLabel = WS_VISIBLE | SS_LEFT | WS_GROUP;
constexpr DWORD kGroup = WS_VISIBLE | BS_GROUPBOX;

const ControlRow kFirmwareControls[] = {
    {kNoId, L"Button", {7, 7, 325, 85}, kGroup, 0, L"Main Controller"},
    {1011, L"Button", {19, 23, 69, 37}, kPush, 0, L"Load File"},
    {1025, L"Static", {81, 25, 315, 36}, kLabel, 0, L""},
    {1026, L"Static", {19, 43, 63, 55}, kLabel, 0, L""},
    {1064, L"Static", {76, 41, 146, 55}, kLabel, 0, L"Version:10..0.1"},
    {1012, L"Button", {178, 41, 228, 55}, kPush, 0, L"Burn"},
    {1013, L"Button", {246, 41, 296, 55}, kPush, 0, L"Stop"},
    {1027, L"Static", {20, 62, 318, 76}, kLabel, 0, L""},
    {kNoId, L"Button", {7, 92, 325, 178}, kGroup, 0, L"Net Controller "},
    {1014, L"Button", {22, 113, 72, 127}, kPush, 0, L"Load File"},
    {1028, L"Static", {82, 115, 316, 126}, kLabel, 0, L""},
    {1030, L"Static", {23, 133, 67, 145}, kLabel, 0, L""},
    {1065, L"Static", {78, 133, 148, 147}, kLabel, 0, L"Version:1..0.1"},
    {1017, L"Button", {153, 133, 203, 147}, kPush, 0, L"Break"},
    {1015, L"Button", {208, 133, 258, 147}, kPush, 0, L"Burn"},
    {1016, L"Button", {263, 133, 313, 147}, kPush, 0, L"Stop"},
    {1031, L"Static", {18, 154, 316, 168}, kLabel, 0, L""},
    {kNoId, L"Static", {16, 186, 124, 194}, SS_LEFT | WS_GROUP, 0, L"Software Version:20180424"},
    {1010, L"msctls_progress32", {7, 216, 325, 230}, kShown | WS_BORDER, 0, L""},
};

TEST(FirmwareTemplateTest, IsAModalDialogWithEveryControlOfBothGroups) {
    Resource res = FindRes(RT_DIALOG, IDD_FIRMWARE);
    ASSERT_NE(res.data, nullptr);
    std::optional<testing::DialogTemplate> read =
        testing::DialogTemplateReader(res.data, res.size).Read();
    ASSERT_TRUE(read);
    const testing::DialogTemplate& dlg = *read;
    EXPECT_EQ(dlg.title, L"Firmware Update");
    EXPECT_EQ(dlg.style,
              static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(dlg.rect.right, 332);
    EXPECT_EQ(dlg.rect.bottom, 240);
    EXPECT_EQ(dlg.pointSize, 8);
    EXPECT_EQ(dlg.typeface, L"MS Sans Serif");
    ASSERT_EQ(dlg.items.size(), std::size(kFirmwareControls));
    for (std::size_t i = 0; i < dlg.items.size(); ++i) {
        const testing::DialogItem& item = dlg.items[i];
        const ControlRow& row = kFirmwareControls[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1) + ", id " + std::to_string(row.id));
        EXPECT_EQ(item.id, row.id);
        EXPECT_EQ(_wcsicmp(testing::ClassName(item.windowClass).c_str(), row.cls), 0);
        EXPECT_EQ(item.rect.left, row.rect.left);
        EXPECT_EQ(item.rect.top, row.rect.top);
        EXPECT_EQ(item.rect.right, row.rect.right - row.rect.left);
        EXPECT_EQ(item.rect.bottom, row.rect.bottom - row.rect.top);
        EXPECT_EQ(item.style, WS_CHILD | row.style) << std::hex << item.style;
        EXPECT_EQ(item.title.text, row.text);
    }
}

// --- bitmaps -------------------------------------------------------------------------------

enum class Look { kGrey, kBlue, kBackground };

struct BitmapRow {
    int id;
    int width;
    int height;
    Look look;
};

constexpr Look G = Look::kGrey;
constexpr Look B = Look::kBlue;

const BitmapRow kBitmaps[] = {
    {208, 100, 52, G}, {209, 101, 45, G}, {210, 205, 56, G}, {212, 101, 45, G},
    {213, 100, 45, G}, {214, 101, 45, G}, {215, 101, 45, G}, {216, 101, 45, G},
    {217, 101, 45, G}, {218, 115, 36, G}, {219, 101, 45, G}, {220, 101, 45, G},
    {221, 100, 50, G}, {222, 101, 45, G}, {223, 115, 36, G}, {224, 1252, 636, Look::kBackground},
    {225, 101, 45, G}, {226, 124, 83, B}, {227, 127, 47, G}, {228, 127, 47, G},
    {230, 205, 56, G}, {232, 101, 45, B}, {234, 101, 45, B}, {235, 101, 45, B},
    {236, 101, 45, B}, {237, 101, 45, B}, {238, 101, 45, B}, {239, 101, 45, B},
    {240, 101, 45, B}, {241, 101, 45, B}, {242, 101, 45, B}, {243, 100, 52, B},
    {244, 100, 50, B}, {245, 100, 45, B}, {246, 205, 56, B}, {247, 205, 56, B},
    {248, 127, 40, B}, {249, 127, 40, B}, {250, 127, 47, B}, {251, 127, 47, B},
    {253, 127, 40, B}, {254, 127, 40, G}, {257, 101, 45, G}, {258, 101, 45, B},
    {259, 101, 45, G}, {260, 101, 45, B}, {261, 101, 45, G}, {262, 101, 45, B},
};

// Pixel (x, y) from the top of a 24-bit bottom-up bitmap resource, as 0xRRGGBB.
DWORD PixelAt(const BITMAPINFOHEADER* info, int x, int y) {
    const BYTE* bits = reinterpret_cast<const BYTE*>(info) + info->biSize;
    int stride = (info->biWidth * 3 + 3) & ~3;
    const BYTE* p = bits + (info->biHeight - 1 - y) * stride + x * 3;
    return (p[2] << 16) | (p[1] << 8) | p[0];
}

TEST(BitmapsTest, EveryBitmapIs24BitsBottomUpAtItsSize) {
    for (const BitmapRow& row : kBitmaps) {
        SCOPED_TRACE("bitmap " + std::to_string(row.id));
        Resource res = FindRes(RT_BITMAP, row.id);
        ASSERT_NE(res.data, nullptr);
        ASSERT_GE(res.size, sizeof(BITMAPINFOHEADER));
        auto info = reinterpret_cast<const BITMAPINFOHEADER*>(res.data);
        EXPECT_EQ(info->biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(info->biWidth, row.width);
        EXPECT_EQ(info->biHeight, row.height) << "positive height: rows stored bottom-up";
        EXPECT_EQ(info->biBitCount, 24);
        EXPECT_EQ(info->biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_GE(res.size,
                  info->biSize + static_cast<DWORD>(((row.width * 3 + 3) & ~3) * row.height));

        HBITMAP loaded = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(row.id));
        ASSERT_NE(loaded, nullptr);
        BITMAP bm{};
        GetObjectW(loaded, sizeof(bm), &bm);
        EXPECT_EQ(bm.bmWidth, row.width);
        EXPECT_EQ(bm.bmHeight, row.height);
        DeleteObject(loaded);

        // The same picture drawn at twice the size, for screens above 100%.
        Resource doubled = FindRes(RT_BITMAP, IDB_DOUBLE_SCALE_OFFSET + row.id);
        ASSERT_NE(doubled.data, nullptr);
        auto big = reinterpret_cast<const BITMAPINFOHEADER*>(doubled.data);
        EXPECT_EQ(big->biWidth, 2 * row.width);
        EXPECT_EQ(big->biHeight, 2 * row.height);
        EXPECT_EQ(big->biBitCount, 24);
    }
}

// The end-to-end tests tell a grey picture from a blue one by its face colour on screen.
TEST(BitmapsTest, ButtonFacesAreFlatGreyOrBlue) {
    for (const BitmapRow& row : kBitmaps) {
        if (row.look == Look::kBackground) continue;
        SCOPED_TRACE("bitmap " + std::to_string(row.id));
        auto info = reinterpret_cast<const BITMAPINFOHEADER*>(FindRes(RT_BITMAP, row.id).data);
        ASSERT_NE(info, nullptr);
        DWORD face = row.look == Look::kGrey ? 0xC0C0C0 : 0x285AC8;
        int middle = row.height / 2;
        EXPECT_EQ(PixelAt(info, 4, middle), face);
        EXPECT_EQ(PixelAt(info, row.width - 5, middle), face);
        EXPECT_EQ(PixelAt(info, row.width / 2, 4), face);
        EXPECT_EQ(PixelAt(info, row.width / 2, row.height - 5), face);
    }
}

// --- icon, manifest, version ---------------------------------------------------------------

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(IconTest, HasSixteenAndThirtyTwoPixelImagesOf32Bits) {
    Resource group = FindRes(RT_GROUP_ICON, IDI_PANEL);
    ASSERT_NE(group.data, nullptr);
    WORD count = 0;
    std::memcpy(&count, group.data + 4, sizeof(count));
    ASSERT_EQ(group.size, 6 + count * sizeof(GroupIconEntry));
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, group.data + 6 + i * sizeof(entry), sizeof(entry));
        EXPECT_EQ(entry.bitCount, 32);
        Resource image = FindRes(RT_ICON, entry.id);
        ASSERT_NE(image.data, nullptr);
        auto info = reinterpret_cast<const BITMAPINFOHEADER*>(image.data);
        EXPECT_EQ(info->biBitCount, 32);
        EXPECT_EQ(info->biWidth, entry.width);
        EXPECT_EQ(info->biHeight, 2 * entry.width) << "image and mask";
        sizes.push_back(entry.width);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32}));

    for (int size : {16, 32}) {
        HICON icon =
            static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PANEL),
                                          IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        EXPECT_NE(icon, nullptr) << size;
        DestroyIcon(icon);
    }
}

// The opening tag of the element that contains `inside`.
std::string TagAround(const std::string& text, const std::string& inside) {
    std::size_t at = text.find(inside);
    if (at == std::string::npos) return {};
    std::size_t open = text.rfind('<', at);
    std::size_t close = text.find('>', at);
    return text.substr(open, close - open + 1);
}

TEST(ManifestTest, RunsAsInvokerWithCommonControls6OnAnyArchitecture) {
    Resource res = FindRes(RT_MANIFEST, 1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID
    ASSERT_NE(res.data, nullptr);
    std::string text(reinterpret_cast<const char*>(res.data), res.size);
    std::string level = TagAround(text, "requestedExecutionLevel");
    EXPECT_NE(level.find("level=\"asInvoker\""), std::string::npos) << level;
    EXPECT_NE(level.find("uiAccess=\"false\""), std::string::npos) << level;
    std::string controls = TagAround(text, "\"Microsoft.Windows.Common-Controls\"");
    EXPECT_NE(controls.find("version=\"6.0.0.0\""), std::string::npos) << controls;
    EXPECT_NE(controls.find("processorArchitecture=\"*\""), std::string::npos) << controls;
    EXPECT_NE(controls.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos) << controls;
    // Per-monitor DPI aware: v2 where Windows has it, the older per-monitor form before.
    EXPECT_NE(text.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
    EXPECT_NE(text.find(">true/pm</dpiAware>"), std::string::npos);
}

TEST(VersionTest, NamesTheProductAndTheVersionOfItsLabel) {
    Resource res = FindRes(RT_VERSION, 1);
    ASSERT_NE(res.data, nullptr);
    const DWORD signature = 0xFEEF04BD;
    const BYTE* end = res.data + res.size - sizeof(VS_FIXEDFILEINFO);
    const VS_FIXEDFILEINFO* fixed = nullptr;
    for (const BYTE* p = res.data; p <= end && !fixed; p += 4) {
        if (std::memcmp(p, &signature, sizeof(signature)) == 0) {
            fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(p);
        }
    }
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(6, 2022));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 8));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    std::wstring text(reinterpret_cast<const wchar_t*>(res.data), res.size / sizeof(wchar_t));
    std::size_t key = text.find(L"ProductName");
    ASSERT_NE(key, std::wstring::npos);
    // The value follows the key's terminator, aligned to 32 bits.
    EXPECT_LE(text.find(L"Vantrel Control Panel", key), key + 14);
}

}  // namespace
}  // namespace resources_test
}  // namespace vantrel

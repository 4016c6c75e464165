// Reads the panel's controls from outside the panel's process, for the end-to-end tests.
// Runs under Wine beside the panel; reads commands on stdin, answers one JSON line each:
//   find                 wait up to 20 s for the panel window; its rectangles
//   dump [CAPTION]       every child control of the panel, or of the dialog with that caption
//                        (the firmware update dialog): id, class, screen rectangle, states, texts
//   focus [CAPTION]      the id of the control of the panel, or of the dialog with that
//                        caption, that has the keyboard focus; 0 when none of its controls has
//   boxes                the visible message boxes: caption, text, owner and OK button rectangle
//   close [CAPTION]      the close box (WM_SYSCOMMAND SC_CLOSE) of the panel or of that dialog,
//                        as Wine draws no frame here
//   alive                whether the panel window still exists
//   answer               whether the panel answers a sent message (WM_NULL) within 200 ms
//   timer                posts the status timer's tick (WM_TIMER 1), so a test need not wait 5 s
//   bitmaps              the number of bitmaps the panel's pictures hold (the panel's own count)
//   sendclose            WM_CLOSE as another program sends it, delivered even while the panel
//                        waits inside a handler
//   setip ID A.B.C.D     puts an address into an IP-address control; with no address, empties it
//   names                each control's accessible name and value as MSAA's proxy for a window
//                        gives them (below): id, name, value
// Only messages whose results come back by value (or are marshalled by the system) are used,
// since the panel lives in another process.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char kCaption[] = "Vantrel Control Panel";

std::string Escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Text(HWND window) {
    char buf[512] = {};
    SendMessageA(window, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    return buf;
}

std::string ClassOf(HWND window) {
    char buf[64] = {};
    GetClassNameA(window, buf, sizeof buf);
    return buf;
}

std::string RectJson(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    char buf[96];
    std::snprintf(buf, sizeof buf, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return buf;
}

// Wine hands the A form of CB_GETLBTEXT from another process the item's UTF-16 text, so the
// item is read in the W form and converted here.
std::string ComboItem(HWND combo, LRESULT index) {
    wchar_t item[256] = {};
    if (SendMessageW(combo, CB_GETLBTEXTLEN, index, 0) >= static_cast<LRESULT>(256)) return "";
    SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item));
    char text[512] = {};
    WideCharToMultiByte(CP_ACP, 0, item, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

HWND FindPanel() { return FindWindowA("#32770", kCaption); }

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        found.push_back(child);
    }
    return found;
}

// An IP-address control keeps its four fields in edit children; read them left to right.
std::string IpText(HWND control) {
    std::vector<HWND> fields = Children(control);
    std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) {
        RECT ra{}, rb{};
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    std::string out;
    for (HWND field : fields) {
        if (!out.empty()) out += '.';
        out += Text(field);
    }
    return out;
}

std::string ControlJson(HWND control) {
    const std::string cls = ClassOf(control);
    std::string json = "{\"id\":" + std::to_string(GetDlgCtrlID(control)) + ",\"class\":\"" +
                       Escape(cls) + "\",\"rect\":" + RectJson(control) +
                       ",\"visible\":" + (IsWindowVisible(control) ? "true" : "false") +
                       ",\"enabled\":" + (IsWindowEnabled(control) ? "true" : "false");
    if (lstrcmpiA(cls.c_str(), "SysIPAddress32") == 0) {
        json += ",\"ip\":\"" + Escape(IpText(control)) + "\"";
    } else if (lstrcmpiA(cls.c_str(), "msctls_progress32") == 0) {
        json += ",\"pos\":" + std::to_string(SendMessageA(control, PBM_GETPOS, 0, 0));
        json += ",\"low\":" + std::to_string(SendMessageA(control, PBM_GETRANGE, TRUE, 0));
        json += ",\"high\":" + std::to_string(SendMessageA(control, PBM_GETRANGE, FALSE, 0));
    } else if (lstrcmpiA(cls.c_str(), "Button") == 0) {
        json += ",\"check\":" + std::to_string(SendMessageA(control, BM_GETCHECK, 0, 0));
    } else if (lstrcmpiA(cls.c_str(), "ComboBox") == 0) {
        const LRESULT count = SendMessageA(control, CB_GETCOUNT, 0, 0);
        json += ",\"selection\":" + std::to_string(SendMessageA(control, CB_GETCURSEL, 0, 0));
        json += ",\"items\":[";
        for (LRESULT i = 0; i < count; ++i) {
            json += std::string(i ? "," : "") + "\"" + Escape(ComboItem(control, i)) + "\"";
        }
        json += "]";
    }
    if (lstrcmpiA(cls.c_str(), "SysIPAddress32") != 0) {
        json += ",\"text\":\"" + Escape(Text(control)) + "\"";
    }
    return json + "}";
}

// What Wine's own MSAA proxy reports, read from outside: AccessibleObjectFromWindow fails
// across processes under this Wine (E_NOINTERFACE), so the probe applies the proxy's rules
// itself. A button or static is named by its window text, '&' taken out. A control that shows a
// value is named by the nearest visible static before it in z-order, if that one is a text
// static; its value is its address, text, selected item or bar position.
std::string AccessibleName(HWND control) {
    const std::string cls = ClassOf(control);
    auto withoutPrefix = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
        return text;
    };
    if (lstrcmpiA(cls.c_str(), "Button") == 0 || lstrcmpiA(cls.c_str(), "Static") == 0) {
        return withoutPrefix(Text(control));
    }
    for (HWND before = GetWindow(control, GW_HWNDPREV); before;
         before = GetWindow(before, GW_HWNDPREV)) {
        if (!IsWindowVisible(before)) continue;
        if (lstrcmpiA(ClassOf(before).c_str(), "Static") != 0) continue;
        const LONG type = GetWindowLongA(before, GWL_STYLE) & SS_TYPEMASK;
        const bool text = type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT ||
                          type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP;
        return text ? withoutPrefix(Text(before)) : "";
    }
    return "";
}

std::string AccessibleValue(HWND control) {
    const std::string cls = ClassOf(control);
    if (lstrcmpiA(cls.c_str(), "SysIPAddress32") == 0) return IpText(control);
    if (lstrcmpiA(cls.c_str(), "msctls_progress32") == 0) {
        return std::to_string(SendMessageA(control, PBM_GETPOS, 0, 0));
    }
    if (lstrcmpiA(cls.c_str(), "ComboBox") == 0) {
        const LRESULT selection = SendMessageA(control, CB_GETCURSEL, 0, 0);
        return selection < 0 ? "" : ComboItem(control, selection);
    }
    if (lstrcmpiA(cls.c_str(), "Edit") == 0) return Text(control);
    return "";
}

void Names() {
    HWND panel = FindPanel();
    if (!panel) {
        std::printf("{\"ok\":false}\n");
        return;
    }
    std::string json = "{\"ok\":true,\"controls\":[";
    bool first = true;
    for (HWND child : Children(panel)) {
        const int id = GetDlgCtrlID(child);
        if (id <= 0) continue;
        json += std::string(first ? "" : ",") + "{\"id\":" + std::to_string(id) + ",\"name\":\"" +
                Escape(AccessibleName(child)) + "\",\"value\":\"" + Escape(AccessibleValue(child)) +
                "\"}";
        first = false;
    }
    std::printf("%s]}\n", json.c_str());
}

void Find() {
    for (int i = 0; i < 200; ++i) {
        HWND panel = FindPanel();
        if (panel && IsWindowVisible(panel)) {
            RECT client{};
            GetClientRect(panel, &client);
            POINT origin{0, 0};
            ClientToScreen(panel, &origin);
            std::printf("{\"ok\":true,\"rect\":%s,\"client\":[%ld,%ld,%ld,%ld]}\n",
                        RectJson(panel).c_str(), origin.x, origin.y, origin.x + client.right,
                        origin.y + client.bottom);
            return;
        }
        Sleep(100);
    }
    std::printf("{\"ok\":false}\n");
}

// The panel, or with a caption the dialog that has it.
HWND FindDialog(const std::string& caption) {
    return caption.empty() ? FindPanel() : FindWindowA("#32770", caption.c_str());
}

void Dump(const std::string& caption) {
    HWND panel = FindDialog(caption);
    if (!panel) {
        std::printf("{\"ok\":false}\n");
        return;
    }
    std::string json = "{\"ok\":true,\"controls\":[";
    bool first = true;
    for (HWND child : Children(panel)) {
        json += (first ? "" : ",") + ControlJson(child);
        first = false;
    }
    std::printf("%s]}\n", json.c_str());
}

void Focus(const std::string& caption) {
    HWND panel = FindDialog(caption);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = panel ? GetWindowThreadProcessId(panel, nullptr) : 0;
    int id = 0;
    if (thread && GetGUIThreadInfo(thread, &info) && info.hwndFocus) {
        // The focus may sit in a child of a control (an IP-address field): report the control.
        HWND control = info.hwndFocus;
        while (control && GetParent(control) != panel) control = GetParent(control);
        id = control ? GetDlgCtrlID(control) : 0;
    }
    std::printf("{\"ok\":true,\"focus\":%d}\n", id);
}

BOOL CALLBACK CollectBox(HWND window, LPARAM list) {
    if (ClassOf(window) == "#32770" && IsWindowVisible(window) && Text(window) != kCaption) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    }
    return TRUE;
}

void Boxes() {
    std::vector<HWND> boxes;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
    std::string json = "{\"ok\":true,\"boxes\":[";
    for (size_t i = 0; i < boxes.size(); ++i) {
        HWND box = boxes[i];
        HWND owner = GetWindow(box, GW_OWNER);
        std::string message;
        HWND button = GetDlgItem(box, IDOK);
        for (HWND child : Children(box)) {
            if (ClassOf(child) == "Static" && !Text(child).empty()) message = Text(child);
        }
        json += std::string(i ? "," : "") + "{\"caption\":\"" + Escape(Text(box)) +
                "\",\"text\":\"" + Escape(message) +
                "\",\"owned\":" + (owner && owner == FindPanel() ? "true" : "false") +
                ",\"owner\":\"" + (owner ? Escape(Text(owner)) : "") + "\"" +
                ",\"button\":" + (button ? RectJson(button) : "null") + "}";
    }
    std::printf("%s]}\n", json.c_str());
}

}  // namespace

int main() {
    // Screen coordinates as the panel, which is DPI aware, sees them: Wine would scale an
    // unaware program's view of them at any DPI but 96.
    SetProcessDPIAware();
    std::string command;
    while (std::getline(std::cin, command)) {
        if (!command.empty() && command.back() == '\r') command.pop_back();
        if (command == "find") {
            Find();
        } else if (command == "dump" || command.rfind("dump ", 0) == 0) {
            Dump(command.size() > 5 ? command.substr(5) : "");
        } else if (command == "names") {
            Names();
        } else if (command == "focus" || command.rfind("focus ", 0) == 0) {
            Focus(command.size() > 6 ? command.substr(6) : "");
        } else if (command == "boxes") {
            Boxes();
        } else if (command == "close" || command.rfind("close ", 0) == 0) {
            HWND panel = FindDialog(command.size() > 6 ? command.substr(6) : "");
            if (panel) PostMessageA(panel, WM_SYSCOMMAND, SC_CLOSE, 0);
            std::printf("{\"ok\":%s}\n", panel ? "true" : "false");
        } else if (command == "timer") {
            HWND panel = FindPanel();
            if (panel) PostMessageA(panel, WM_TIMER, 1, 0);
            std::printf("{\"ok\":%s}\n", panel ? "true" : "false");
        } else if (command == "bitmaps") {
            DWORD_PTR count = 0;
            HWND panel = FindPanel();
            const bool ok = panel && SendMessageTimeoutA(
                                         panel, RegisterWindowMessageA("VantrelPanel.LiveBitmaps"),
                                         0, 0, SMTO_ABORTIFHUNG, 10000, &count);
            std::printf("{\"ok\":%s,\"bitmaps\":%d}\n", ok ? "true" : "false",
                        static_cast<int>(count));
        } else if (command == "sendclose") {
            HWND panel = FindPanel();
            if (panel) SendNotifyMessageA(panel, WM_CLOSE, 0, 0);
            std::printf("{\"ok\":%s}\n", panel ? "true" : "false");
        } else if (command.rfind("setip ", 0) == 0) {
            int id = 0;
            unsigned a = 0, b = 0, c = 0, d = 0;
            HWND panel = FindPanel();
            const int fields =
                panel ? std::sscanf(command.c_str(), "setip %d %u.%u.%u.%u", &id, &a, &b, &c, &d)
                      : 0;
            const bool ok = fields == 5 || fields == 1;
            if (fields == 5) {
                SendDlgItemMessageA(panel, id, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
            } else if (fields == 1) {
                SendDlgItemMessageA(panel, id, IPM_CLEARADDRESS, 0, 0);  // an emptied field
            }
            std::printf("{\"ok\":%s}\n", ok ? "true" : "false");
        } else if (command == "answer") {
            HWND panel = FindPanel();
            DWORD_PTR result = 0;
            const bool answered =
                panel && SendMessageTimeoutA(panel, WM_NULL, 0, 0, SMTO_NORMAL, 200, &result);
            std::printf("{\"ok\":true,\"answered\":%s}\n", answered ? "true" : "false");
        } else if (command == "alive") {
            std::printf("{\"ok\":true,\"alive\":%s}\n", FindPanel() ? "true" : "false");
        } else {
            std::printf("{\"ok\":false,\"error\":\"unknown command\"}\n");
        }
        std::fflush(stdout);
    }
    return 0;
}

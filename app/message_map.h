#pragma once

#include <windows.h>

#include <type_traits>

// A dialog's message map, written as a table inside its class:
//
//     BEGIN_MSG_MAP(CMainDlg)
//         MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
//         COMMAND_ID_HANDLER(IDOK, OnCloseCmd)
//         COMMAND_HANDLER(1023, CBN_SELCHANGE, OnSerialLink)
//     END_MSG_MAP()
//
// Rows are tried top to bottom. A handler finds bHandled true; it sets it false to let
// the next rows and then the dialog's default processing see the message. Handlers:
//     LRESULT OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
//     LRESULT OnCommand(WORD wNotifyCode, WORD wID, HWND hWndCtl, bool& bHandled);

#define BEGIN_MSG_MAP(theClass)                                                        \
  public:                                                                              \
    bool ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,      \
                              LRESULT& lResult) override {                             \
        static_assert(std::is_same_v<theClass, std::remove_pointer_t<decltype(this)>>, \
                      "BEGIN_MSG_MAP names another class");                            \
        (void)hWnd, (void)uMsg, (void)wParam, (void)lParam, (void)lResult;             \
        bool bHandled = true;

/// Any message uMsg.
#define MESSAGE_HANDLER(msg, func)                      \
    if (uMsg == (msg)) {                                \
        bHandled = true;                                \
        lResult = func(uMsg, wParam, lParam, bHandled); \
        if (bHandled) {                                 \
            return true;                                \
        }                                               \
    }

/// WM_COMMAND from control id with exactly notification code.
#define COMMAND_HANDLER(id, code, func)                                                           \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == (code)) {               \
        bHandled = true;                                                                          \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
        if (bHandled) {                                                                           \
            return true;                                                                          \
        }                                                                                         \
    }

/// WM_COMMAND from control id with any notification code.
#define COMMAND_ID_HANDLER(id, func)                                                              \
    if (uMsg == WM_COMMAND && LOWORD(wParam) == (id)) {                                           \
        bHandled = true;                                                                          \
        lResult = func(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), bHandled); \
        if (bHandled) {                                                                           \
            return true;                                                                          \
        }                                                                                         \
    }

#define END_MSG_MAP() \
    (void)bHandled;   \
    return false;     \
    }

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialog.h"
#include "tests/windows/in_memory_dialog.h"
#include "tests/windows/loop_watchdog.h"

namespace vantrel {
namespace dialog_test {
namespace {

using Log = std::vector<std::string>;

constexpr WORD kComboClass = 0x0085;
constexpr WORD kStaticClass = 0x0082;

testing::InMemoryDialog PanelLikeTemplate(DWORD style = 0) {
    testing::InMemoryDialog dialog(style | WS_POPUP | WS_CAPTION, 200, 120);
    dialog.AddControl(kComboClass, 1023, CBS_DROPDOWNLIST, 10, 10, 60, 80)
        .AddControl(kStaticClass, 1038, SS_NOTIFY, 10, 40, 30, 20);
    return dialog;
}

class TestDlg : public CDialog {
  public:
    BEGIN_MSG_MAP(TestDlg)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    MESSAGE_HANDLER(WM_APP, OnPassOn)
    MESSAGE_HANDLER(WM_APP, OnAnswer)
    MESSAGE_HANDLER(WM_CTLCOLORDLG, OnCtlColorDlg)
    COMMAND_ID_HANDLER(IDOK, OnCloseCmd)
    COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
    COMMAND_HANDLER(1023, CBN_SELCHANGE, OnSerialLink)
    COMMAND_HANDLER(1038, STN_CLICKED, OnSoloLeft)
    END_MSG_MAP()

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM lParam, bool&) {
        m_log.push_back("init " + std::to_string(lParam));
        m_hInitWnd = m_hWnd;
        if (m_bCloseAtOnce) {
            PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        }
        return 1;
    }
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool&) {
        m_log.push_back("destroy");
        return 0;
    }
    LRESULT OnPassOn(UINT, WPARAM, LPARAM, bool& bHandled) {
        m_log.push_back("pass on");
        bHandled = false;
        return 0;
    }
    LRESULT OnAnswer(UINT, WPARAM, LPARAM, bool&) { return 42; }
    LRESULT OnCtlColorDlg(UINT, WPARAM, LPARAM, bool&) {
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    LRESULT OnCloseCmd(WORD wNotifyCode, WORD wID, HWND, bool&) {
        m_log.push_back("close " + std::to_string(wID) + "/" + std::to_string(wNotifyCode));
        if (m_bModal) {
            EndDialog(wID);
        }
        return 0;
    }
    LRESULT OnSerialLink(WORD, WORD, HWND, bool&) {
        m_log.push_back("serial link");
        return 0;
    }
    LRESULT OnSoloLeft(WORD, WORD, HWND hWndCtl, bool&) {
        m_log.push_back(hWndCtl == GetDlgItem(1038) ? "solo left from 1038" : "solo left");
        return 0;
    }

    Log m_log;
    HWND m_hInitWnd = nullptr;
    bool m_bModal = false;
    bool m_bCloseAtOnce = false;
};

LRESULT SendCommand(HWND dialog, int id, int code) {
    return SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

TEST(DialogTest, ModelessCreateBindsTheObjectBeforeInitDialog) {
    auto dialogTemplate = PanelLikeTemplate();
    TestDlg dialog;
    HWND hWnd = dialog.Create(nullptr, dialogTemplate.Get());
    ASSERT_NE(hWnd, nullptr);
    EXPECT_EQ(dialog.m_hWnd, hWnd);
    EXPECT_EQ(dialog.m_hInitWnd, hWnd);
    EXPECT_EQ(dialog.m_log, (Log{"init 0"}));  // the creation parameter stays 0
    EXPECT_FALSE(IsWindowVisible(hWnd));       // the template does not make it visible
    EXPECT_EQ(dialog.Create(nullptr, dialogTemplate.Get()), nullptr);  // one window only
    EXPECT_TRUE(dialog.DestroyWindow());
}

TEST(DialogTest, CommandsRouteByControlAndNotificationCode) {
    auto dialogTemplate = PanelLikeTemplate();
    TestDlg dialog;
    HWND hWnd = dialog.Create(nullptr, dialogTemplate.Get());
    ASSERT_NE(hWnd, nullptr);
    dialog.m_log.clear();

    SendCommand(hWnd, 1038, STN_CLICKED);
    SendCommand(hWnd, 1038, STN_DBLCLK);  // a double click does nothing
    SendCommand(hWnd, 1023, CBN_SELCHANGE);
    SendCommand(hWnd, 1023, CBN_DROPDOWN);  // only a new selection counts
    SendCommand(hWnd, 1099, 0);             // not in the map
    SendCommand(hWnd, IDOK, 0);
    SendCommand(hWnd, IDOK, 1);  // OK and Cancel take any code
    SendCommand(hWnd, IDCANCEL, 0);

    EXPECT_EQ(dialog.m_log,
              (Log{"solo left from 1038", "serial link", "close 1/0", "close 1/1", "close 2/0"}));
    dialog.DestroyWindow();
}

TEST(DialogTest, MessagesReachOnlyTheirOwnDialog) {
    auto dialogTemplate = PanelLikeTemplate();
    TestDlg first;
    TestDlg second;
    HWND firstWnd = first.Create(nullptr, dialogTemplate.Get());
    HWND secondWnd = second.Create(nullptr, dialogTemplate.Get());
    ASSERT_NE(firstWnd, nullptr);
    ASSERT_NE(secondWnd, nullptr);
    first.m_log.clear();
    second.m_log.clear();

    SendCommand(secondWnd, 1023, CBN_SELCHANGE);

    EXPECT_EQ(first.m_log, Log{});
    EXPECT_EQ(second.m_log, (Log{"serial link"}));
}

TEST(DialogTest, HandlerResultsReachTheSender) {
    auto dialogTemplate = PanelLikeTemplate();
    TestDlg dialog;
    HWND hWnd = dialog.Create(nullptr, dialogTemplate.Get());
    ASSERT_NE(hWnd, nullptr);
    dialog.m_log.clear();

    // A row that sets bHandled false passes the message on to the next row.
    EXPECT_EQ(SendMessageA(hWnd, WM_APP, 0, 0), 42);
    EXPECT_EQ(dialog.m_log, (Log{"pass on"}));
    // Messages that return their result directly rather than through DWLP_MSGRESULT.
    EXPECT_EQ(SendMessageA(hWnd, WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(hWnd)),
              reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(SendMessageA(hWnd, WM_INITDIALOG, 0, 0), 1);
}

TEST(DialogTest, DestroyingTheWindowUnbindsTheObject) {
    auto dialogTemplate = PanelLikeTemplate();
    TestDlg dialog;
    HWND hWnd = dialog.Create(nullptr, dialogTemplate.Get());
    ASSERT_NE(hWnd, nullptr);
    dialog.m_log.clear();

    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_EQ(dialog.m_log, (Log{"destroy"}));
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_FALSE(IsWindow(hWnd));
    // The object can make a new window afterwards.
    EXPECT_NE(dialog.Create(nullptr, dialogTemplate.Get()), nullptr);
}

/// Notes a handler call that comes after the object's destructor has run.
class LifetimeDlg : public CDialog {
  public:
    static inline bool s_bDestructed = false;
    static inline bool s_bHandlerAfterDestructor = false;

    ~LifetimeDlg() override { s_bDestructed = true; }

    BEGIN_MSG_MAP(LifetimeDlg)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    END_MSG_MAP()

    LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool&) {
        s_bHandlerAfterDestructor = s_bDestructed;
        return 0;
    }
};

TEST(DialogTest, DestroyingTheObjectDestroysAWindowStillOpenWithoutCallingIntoIt) {
    auto dialogTemplate = PanelLikeTemplate();
    HWND hWnd = nullptr;
    {
        LifetimeDlg dialog;
        hWnd = dialog.Create(nullptr, dialogTemplate.Get());
        ASSERT_NE(hWnd, nullptr);
    }
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_FALSE(LifetimeDlg::s_bHandlerAfterDestructor);
}

TEST(DialogTest, CreateFailsCleanlyWithoutATemplate) {
    TestDlg dialog;
    EXPECT_EQ(dialog.Create(nullptr, 4242), nullptr);  // no such resource
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_EQ(dialog.m_log, Log{});
}

TEST(DialogTest, DoModalReturnsTheCodeGivenToEndDialog) {
    auto dialogTemplate = PanelLikeTemplate();
    TestDlg dialog;
    dialog.m_bModal = true;
    dialog.m_bCloseAtOnce = true;
    testing::LoopWatchdog watchdog;

    EXPECT_EQ(dialog.DoModal(nullptr, dialogTemplate.Get()), IDCANCEL);
    EXPECT_EQ(dialog.m_log, (Log{"init 0", "close 2/0", "destroy"}));
    EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST(DialogTest, CenterWindowCentresOnTheWorkArea) {
    auto dialogTemplate = PanelLikeTemplate();
    TestDlg dialog;
    HWND hWnd = dialog.Create(nullptr, dialogTemplate.Get());
    ASSERT_NE(hWnd, nullptr);
    SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

    EXPECT_TRUE(dialog.CenterWindow());

    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    RECT window{};
    GetWindowRect(hWnd, &window);
    EXPECT_NEAR(window.left - work.left, work.right - window.right, 1);
    EXPECT_NEAR(window.top - work.top, work.bottom - window.bottom, 1);
}

TEST(DialogTest, ControlHelpersActOnTheNamedControl) {
    auto dialogTemplate = PanelLikeTemplate();
    TestDlg dialog;
    HWND hWnd = dialog.Create(nullptr, dialogTemplate.Get());
    ASSERT_NE(hWnd, nullptr);

    EXPECT_TRUE(dialog.SetDlgItemText(1038, "Solo"));
    char text[16] = {};
    GetWindowTextA(dialog.GetDlgItem(1038), text, sizeof(text));
    EXPECT_STREQ(text, "Solo");

    EXPECT_TRUE(dialog.ShowDlgItem(1023, false));
    EXPECT_FALSE(IsWindowVisible(dialog.GetDlgItem(1023)));
    EXPECT_TRUE(dialog.EnableDlgItem(1023, false));
    EXPECT_FALSE(IsWindowEnabled(dialog.GetDlgItem(1023)));
    EXPECT_FALSE(dialog.EnableDlgItem(1099, false));  // no such control

    dialog.SendDlgItemMessage(1023, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("COM 3"));
    EXPECT_EQ(dialog.SendDlgItemMessage(1023, CB_GETCOUNT), 1);
}

}  // namespace
}  // namespace dialog_test
}  // namespace vantrel

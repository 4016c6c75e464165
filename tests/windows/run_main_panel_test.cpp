#include <gtest/gtest.h>

#include "app/dialog.h"
#include "app/program.h"
#include "app/run_main_panel.h"
#include "tests/windows/in_memory_dialog.h"
#include "tests/windows/loop_watchdog.h"

namespace vantrel {
namespace run_main_panel_test {
namespace {

/// A small main panel: registers with the loop as the real one does, and on its first idle
/// call posts the key that the test names to itself, as a user pressing it would.
class KeyPanel : public CDialog, public CMessageFilter, public CIdleHandler {
  public:
    static inline UINT s_nKey = 0;
    static inline bool s_bShownAtFirstIdle = false;
    static inline bool s_bIconicAtFirstIdle = false;
    static inline bool s_bRemovedFromLoop = false;

    enum { IDD = 0 };  // stands for a resource id: the template below is made in memory

    HWND Create(HWND parent, int /*templateId*/) {
        static const testing::InMemoryDialog dialogTemplate(WS_POPUP | WS_CAPTION, 120, 60);
        return CDialog::Create(parent, dialogTemplate.Get());
    }

    BEGIN_MSG_MAP(KeyPanel)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
    COMMAND_ID_HANDLER(IDOK, OnCloseCmd)
    COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
    END_MSG_MAP()

    bool FilterMessage(MSG* pMsg) override { return IsDialogMessageA(m_hWnd, pMsg) != FALSE; }

    bool HandleIdle() override {
        if (!m_bKeyPosted) {
            m_bKeyPosted = true;
            s_bShownAtFirstIdle = IsWindowVisible(m_hWnd) != FALSE;
            s_bIconicAtFirstIdle = IsIconic(m_hWnd) != FALSE;
            PostMessageA(m_hWnd, WM_KEYDOWN, s_nKey, 0);
        }
        return false;
    }

    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, bool&) {
        CMessageLoop* loop = g_module.LoopForThread(GetCurrentThreadId());
        loop->AddFilter(this);
        loop->AddIdle(this);
        return 1;
    }
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, bool&) {
        CMessageLoop* loop = g_module.LoopForThread(GetCurrentThreadId());
        s_bRemovedFromLoop = loop && loop->RemoveFilter(this) && loop->RemoveIdle(this);
        return 0;
    }
    LRESULT OnCloseCmd(WORD, WORD wID, HWND, bool&) {
        DestroyWindow();
        PostQuitMessage(wID);
        return 0;
    }

  private:
    bool m_bKeyPosted = false;
};

class UncreatablePanel : public CDialog {
  public:
    enum { IDD = 4242 };  // no such template
    BEGIN_MSG_MAP(UncreatablePanel)
    END_MSG_MAP()
};

class RunMainPanelTest : public ::testing::Test {
  protected:
    RunMainPanelTest() {
        g_module.Init(GetModuleHandleA(nullptr));
        KeyPanel::s_bShownAtFirstIdle = false;
        KeyPanel::s_bIconicAtFirstIdle = false;
        KeyPanel::s_bRemovedFromLoop = false;
    }
    ~RunMainPanelTest() override { g_module.Term(); }

    testing::LoopWatchdog m_watchdog;
};

TEST_F(RunMainPanelTest, EscapeQuitsWithCodeTwoAndTheLoopIsUnregistered) {
    KeyPanel::s_nKey = VK_ESCAPE;
    EXPECT_EQ(RunMainPanel<KeyPanel>(SW_SHOWNOACTIVATE), IDCANCEL);
    EXPECT_TRUE(KeyPanel::s_bShownAtFirstIdle);
    EXPECT_TRUE(KeyPanel::s_bRemovedFromLoop);
    EXPECT_EQ(g_module.LoopForThread(GetCurrentThreadId()), nullptr);
}

TEST_F(RunMainPanelTest, EnterQuitsWithCodeOne) {
    KeyPanel::s_nKey = VK_RETURN;
    EXPECT_EQ(RunMainPanel<KeyPanel>(SW_SHOWNOACTIVATE), IDOK);
}

TEST_F(RunMainPanelTest, ShowsThePanelWithTheShowStateGiven) {
    KeyPanel::s_nKey = VK_ESCAPE;
    EXPECT_EQ(RunMainPanel<KeyPanel>(SW_SHOWMINNOACTIVE), IDCANCEL);
    EXPECT_TRUE(KeyPanel::s_bIconicAtFirstIdle);
}

TEST_F(RunMainPanelTest, PanelThatCannotBeCreatedGivesZeroAndLeavesNoLoopBehind) {
    EXPECT_EQ(RunMainPanel<UncreatablePanel>(SW_SHOWNOACTIVATE), 0);
    EXPECT_EQ(g_module.LoopForThread(GetCurrentThreadId()), nullptr);
}

TEST(RunProgramTest, ExitCodeIsThePanelsQuitCode) {
    testing::LoopWatchdog watchdog;
    KeyPanel::s_nKey = VK_ESCAPE;
    EXPECT_EQ(RunProgram<KeyPanel>(GetModuleHandleA(nullptr), SW_SHOWNOACTIVATE), IDCANCEL);
    EXPECT_EQ(g_module.GetInstance(), GetModuleHandleA(nullptr));
    EXPECT_EQ(g_module.LoopForThread(GetCurrentThreadId()), nullptr);
    EXPECT_EQ(RunProgram<UncreatablePanel>(GetModuleHandleA(nullptr), SW_SHOWNOACTIVATE), 0);
}

}  // namespace
}  // namespace run_main_panel_test
}  // namespace vantrel

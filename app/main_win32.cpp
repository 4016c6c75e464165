// The program's entry point: COM and the common controls, the application module, and the
// main panel with the main thread's message loop.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/app_module.h"
#include "app/message_loop.h"
#include "panel/main_dlg.h"

namespace vantrel {

namespace {

/// Creates the panel, shows it and runs the loop until the panel quits. The quit code (1 for
/// OK, 2 for Cancel), or 0 when the panel cannot be created, which is not reported.
int RunMainPanel(int showState) {
    CMessageLoop loop;
    g_module.RegisterLoop(&loop);
    int result = 0;
    {
        CMainDlg panel;
        // The template leaves the window hidden: it is shown only once initialised.
        if (panel.Create(nullptr, CMainDlg::IDD)) {
            ShowWindow(panel.m_hWnd, showState);
            result = loop.RunLoop();
        }
        // The loop leaves the table also when the panel failed, so it never holds a loop
        // that is gone.
        g_module.UnregisterLoop();
    }
    return result;
}

}  // namespace

}  // namespace vantrel

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int showState) {
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    vantrel::g_module.Init(instance);
    const int code = vantrel::RunMainPanel(showState);
    vantrel::g_module.Term();
    CoUninitialize();
    return code;
}

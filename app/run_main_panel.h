#pragma once

#include <windows.h>

#include "app/app_module.h"
#include "app/message_loop.h"

namespace vantrel {

/// Runs the program's one window. Builds the main thread's message loop and the panel,
/// creates the panel as a modeless dialog with no owner, shows it with showCmd and runs the
/// loop until the panel posts its quit code. TPanel is a default-constructible CDialog whose
/// template id is TPanel::IDD; it adds itself to the loop (LoopForThread) while it
/// initialises. Returns the quit code, or 0 when the panel cannot be created.
template <class TPanel>
int RunMainPanel(int showCmd) {
    CMessageLoop loop;
    g_module.RegisterLoop(&loop);
    int quitCode = 0;
    {
        TPanel panel;
        if (HWND window = panel.Create(nullptr, TPanel::IDD)) {
            ::ShowWindow(window, showCmd);  // the template does not make it visible
            quitCode = loop.RunLoop();
        }
        // Also when creation failed: the table must not keep a loop that is about to go.
        g_module.UnregisterLoop();
    }
    return quitCode;
}

}  // namespace vantrel

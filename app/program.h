#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/app_module.h"
#include "app/run_main_panel.h"

namespace vantrel {

/// The whole life of the program round its main panel TPanel (see RunMainPanel): COM and
/// the common controls up, the module initialised, the panel run, everything down again.
/// Returns the process's exit code: the panel's quit code, or 0 when it could not be made.
template <class TPanel>
int RunProgram(HINSTANCE instance, int showCmd) {
    CoInitialize(nullptr);  // a failure changes nothing the panel does
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    // Only this flag: the progress bar and IP address classes of the panel come registered
    // when the common-controls library loads.
    controls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);
    g_module.Init(instance);
    int exitCode = RunMainPanel<TPanel>(showCmd);
    g_module.Term();
    CoUninitialize();
    return exitCode;
}

}  // namespace vantrel

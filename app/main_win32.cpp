// The program's entry point. The command line is ignored: the program takes no arguments.
#include <windows.h>

#include "app/program.h"
#include "panel/main_dlg.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int showCmd) {
    return vantrel::RunProgram<vantrel::CMainDlg>(instance, showCmd);
}

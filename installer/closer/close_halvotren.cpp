// Run by the package before Windows Installer looks at which of its files
// are in use: asks every Halvotren on this desktop to end, as its Exit
// command does (WM_CLOSE: the icon deleted, exit code 0), and waits a while
// for each. A Halvotren still running would keep its file in use, so that
// the installation replaced it only at the next restart and started the new
// version beside it, or an uninstall left it running. One that does not end
// in time is left alone, and the installation goes on as it would have.
//
// Only in the desktop's own logon session, as the program it installs: an
// installation run as another account would otherwise end the user's
// watcher and start none in its place.
#include <windows.h>

#include "../../app/tray.h"

#define MOST_PROGRAMS 16
#define WAIT_PER_PROGRAM_MS 10000

extern "C" void CloseHalvotrenStart(void)
{
    // All of them first: a window that has gone can no longer be the one a
    // search continues from.
    HWND windows[MOST_PROGRAMS];
    int count = 0;
    if (InDesktopSession()) {
        HWND window = NULL;
        while (count < MOST_PROGRAMS && (window = FindWindowExA(NULL, window, "Halvotren", NULL)) != NULL)
            windows[count++] = window;
    }
    HANDLE programs[MOST_PROGRAMS];
    int closing = 0;
    for (int i = 0; i < count; ++i) {
        DWORD process = 0;
        GetWindowThreadProcessId(windows[i], &process);
        HANDLE program = OpenProcess(SYNCHRONIZE, FALSE, process);
        if (program == NULL)
            continue;
        if (PostMessageA(windows[i], WM_CLOSE, 0, 0))
            programs[closing++] = program;
        else
            CloseHandle(program);
    }
    for (int i = 0; i < closing; ++i) {
        WaitForSingleObject(programs[i], WAIT_PER_PROGRAM_MS);
        CloseHandle(programs[i]);
    }
    ExitProcess(0);
}

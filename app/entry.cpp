// Where the process starts. The C runtime's own start-up code would parse
// a command line the program never reads, set up thread-local storage and a
// pseudo-relocation runtime it never uses, and pull in their support code;
// msvcrt.dll initialises itself when it loads, so nothing of that is needed.
//
// A copy of the program that an update started to see the installation
// through runs as the waiter and as nothing else: no window, no icon, no
// monitor.
#include <windows.h>

#include "../update/update.h"

extern "C" void HalvotrenStart(void)
{
    int code = RunUpdateWaiter(GetCommandLineA());
    if (code == WAITER_NOT_ASKED)
        code = WinMain(GetModuleHandleA(NULL), NULL, (LPSTR) "", SW_SHOWDEFAULT);
    ExitProcess((UINT)code);
}

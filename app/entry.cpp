// Where the process starts. The C runtime's own start-up code would parse
// a command line the program never reads, set up thread-local storage and a
// pseudo-relocation runtime it never uses, and pull in their support code;
// msvcrt.dll initialises itself when it loads, so nothing of that is needed.
//
// A copy of the program that an update started to see the installation
// through runs as the waiter and as nothing else: no window, no icon, no
// monitor; so does the copy that switches the later firewall with the
// user's consent. A program that the installation started ends at once, quietly,
// when it is not the desktop's own user's; the Startup shortcut starts the
// user's at the next logon.
#include <windows.h>

#include "tray.h"
#include "../core/session.h"
#include "../core/text_format.h"
#include "../handover/handover.h"

extern "C" void HalvotrenStart(void)
{
    const char *commandLine = GetCommandLineA();
    int code = RunUpdateWaiter(commandLine);
    if (code == WAITER_NOT_ASKED)
        code = RunConsentedSwitch(commandLine);
    if (code == CONSENT_NOT_ASKED) {
        code = 0;
        if (AfterSwitch(commandLine, INSTALLED_SWITCH) == NULL || InDesktopSession()) {
            code = WinMain(GetModuleHandleA(NULL), NULL, (LPSTR) "", SW_SHOWDEFAULT);
            // The monitor, and a Start, Stop or check under way, may stand
            // anywhere: inside the firewall, WinINet or a library's load.
            // ExitProcess would end them there and then run every library's
            // detach code, which waits for good, or crashes, on a lock one
            // of them held. The icon is gone and an update's files are
            // settled by now, so nothing is left for that code to do.
            if (TerminateProcess(GetCurrentProcess(), (UINT)code))
                for (;;)
                    Sleep(INFINITE);
        }
    }
    ExitProcess((UINT)code);
}

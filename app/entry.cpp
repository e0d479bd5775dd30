// Where the process starts. The C runtime's own start-up code would parse
// a command line the program never reads, set up thread-local storage and a
// pseudo-relocation runtime it never uses, and pull in their support code;
// msvcrt.dll initialises itself when it loads, so nothing of that is needed.
#include <windows.h>

extern "C" void HalvotrenStart(void)
{
    const int code = WinMain(GetModuleHandleA(NULL), NULL, (LPSTR) "", SW_SHOWDEFAULT);
    ExitProcess((UINT)code);
}

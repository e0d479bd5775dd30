/* Imports GetTickCount64, which kernel32 only exports from Vista on: the XP
 * load check must refuse this executable, or it would let such an import
 * slip into Halvotren.exe unnoticed. */
#include <windows.h>

/* Hidden by the headers below _WIN32_WINNT 0x0600; declared here so the
 * program still builds with the project's XP settings. */
WINBASEAPI ULONGLONG WINAPI GetTickCount64(void);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    return (int)(GetTickCount64() & 1);
}

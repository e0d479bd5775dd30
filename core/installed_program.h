// Where Windows Installer has put the program: the file it has registered
// for the package's program component. Shared by the waiter, which starts
// it after an update, and the package's closing program, which starts it
// again after an installation that did not finish.
#ifndef HALVOTREN_CORE_INSTALLED_PROGRAM_H
#define HALVOTREN_CORE_INSTALLED_PROGRAM_H

#include <windows.h>

// What the program calls in msi.dll, which it loads only while it needs it:
// to find the installed program, and in a hand-over to let Windows
// Installer check the package. One list for both keeps the names once.
struct InstallerFunctions {
    int(WINAPI *MsiLocateComponentA)(LPCSTR component, LPSTR path, LPDWORD size);
    UINT(WINAPI *MsiVerifyPackageA)(LPCSTR path);
};

// msi.dll and the functions of InstallerFunctions, for LoadSystemFunctions.
extern const char MsiList[];

// The installed Halvotren.exe into path: 1 when Windows Installer names one
// installed on this machine, 0 otherwise (path then unspecified).
int InstalledProgramPath(char path[MAX_PATH]);

#endif

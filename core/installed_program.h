// Where Windows Installer has put the program: the file it has registered
// for the package's program component. Shared by the waiter, which starts
// it after an update, and the package's closing program, which starts it
// again after an installation that did not finish.
#ifndef HALVOTREN_CORE_INSTALLED_PROGRAM_H
#define HALVOTREN_CORE_INSTALLED_PROGRAM_H

#include <windows.h>

// The installed Halvotren.exe into path: 1 when Windows Installer names one
// installed on this machine, 0 otherwise (path then unspecified).
int InstalledProgramPath(char path[MAX_PATH]);

#endif

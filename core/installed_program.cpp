#include "installed_program.h"

#include "system_library.h"

// The package's program component, whose key path is the installed
// Halvotren.exe: its GUID is fixed in the package for good, so every
// version, wherever it was installed, is found by it.
static const char ProgramComponent[] = "{3E9B7F21-8C4A-4D5E-B6F0-1A2C3D4E5F61}";
#define INSTALLSTATE_LOCAL 3

// By its full path: msi.dll is not one of the system's known DLLs, so a copy
// beside the program would otherwise be loaded first.
constexpr char MsiList[] = "msi.dll\0MsiLocateComponentA\0MsiVerifyPackageA\0";
static_assert(CountListedFunctions(MsiList, sizeof MsiList) == sizeof(InstallerFunctions) / sizeof(FARPROC),
              "a function is looked up for every member of InstallerFunctions");

int InstalledProgramPath(char path[MAX_PATH])
{
    InstallerFunctions msi;
    HMODULE library = LoadSystemFunctions(MsiList, &msi);
    if (library == NULL)
        return 0;
    // The size counts the terminator; a path that does not fit is
    // INSTALLSTATE_MOREDATA, and an absent or broken one no path at all.
    DWORD size = MAX_PATH;
    const int located = msi.MsiLocateComponentA(ProgramComponent, path, &size) == INSTALLSTATE_LOCAL;
    FreeLibrary(library);
    return located;
}

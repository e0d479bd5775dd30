#include "hand_off.h"

#include "../core/text_format.h"

#include <string.h>

#include <stdio.h>

// msvcrt's own on Windows, as for the formatting: any C++ library header
// makes the plain name mingw's, which drags its runtime in.
#ifdef _WIN32
#define ScanText __ms_sscanf
#else
#define ScanText sscanf
#endif

const char InstallerFileName[] = "~halvotren_installer.msi";
const char WaiterFileName[] = "Halvotren.exe";

static int FormatWaiterArguments(char *buffer, size_t size, unsigned process, unsigned package,
                                 const char *program)
{
    return FormatText(buffer, size, " %u %u \"%s\"", process, package, program);
}

int FormatWaiterCommandLine(char *buffer, size_t size, const char *waiter, unsigned process, unsigned package,
                            const char *program)
{
    if (!FormatText(buffer, size, "\"%s\" %s", waiter, WAITER_SWITCH))
        return 0;
    const size_t used = strlen(buffer);
    return FormatWaiterArguments(buffer + used, size - used, process, package, program);
}

int ReadWaiterCommandLine(const char *commandLine, unsigned *process, unsigned *package,
                          char program[WAITER_PATH_SIZE])
{
    const char *arguments = AfterSwitch(commandLine, WAITER_SWITCH);
    if (arguments == nullptr)
        return NOT_A_WAITER;
    // Read leniently, then written again: only arguments that come out the
    // same are taken, which refuses signs, blanks, leading zeros, numbers
    // that do not fit and anything after the closing quote. The width is
    // WAITER_PATH_SIZE - 1. A handle is a multiple of four: 4294967295 and
    // 4294967294 are the pseudo-handles of the waiter's own process and
    // thread, which it would wait for forever.
    char again[WAITER_PATH_SIZE + 64];
    if (ScanText(arguments, " %u %u \"%259[^\"]", process, package, program) != 3 ||
        !FormatWaiterArguments(again, sizeof again, *process, *package, program) ||
        strcmp(again, arguments) != 0 || *process == 0 || *package == 0 || ((*process | *package) & 3) != 0)
        return WAITER_MALFORMED;
    return WAITER_ORDERS;
}

int FormatInstallerCommandLine(char *buffer, size_t size, const char *path)
{
    return FormatText(buffer, size, "msiexec.exe /i \"%s\" " WAITER_PROPERTY "=1", path);
}

int ProgramAfterInstaller(int ended, unsigned long exitCode)
{
    if (!ended)
        return START_OLD_PROGRAM;
    // Done, and done but for a restart; a restart already under way.
    if (exitCode == 0 || exitCode == 3010)
        return START_INSTALLED_PROGRAM;
    return exitCode == 1641 ? START_NOTHING : START_OLD_PROGRAM;
}

int FormatUpdateFolderName(char *folder, size_t size, const char *temp, int attempt)
{
    return FormatText(folder, size, "%s~halvotren_update%d", temp, attempt);
}

int ReplaceFileName(char *path, size_t size, const char *name)
{
    char *slash = strrchr(path, '\\');
    if (slash == nullptr)
        return 0;
    const char kept = slash[1];
    slash[1] = '\0';
    if (AppendText(path, size, name))
        return 1;
    slash[1] = kept;
    return 0;
}

int IsUpdateFolderEntry(const char *name, int plainFile)
{
    if (plainFile)
        return strcmp(name, InstallerFileName) == 0 || strcmp(name, WaiterFileName) == 0;
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

int FormatUserAccess(char *buffer, size_t size, const char *sid)
{
    // Full access for each, inherited by what the folder holds; protected,
    // so that nothing above adds any.
    return FormatText(buffer, size, "O:%sD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)", sid, sid);
}

int FormatUpdateLockName(char *buffer, size_t size, const char *sid)
{
    return FormatText(buffer, size, "Local\\Halvotren-%s", sid);
}

// The waiter: a copy of this program in the update's folder that sees the
// installation through. The program hands it its own process and the saved
// package and ends; the waiter starts the installer once the program has
// ended, so that the package never finds it running, waits for the
// installer however long it takes, deletes the package and then starts a
// program again, whatever became of the installation: the new version when
// it finished, the old one when it did not. Either runs as the account the
// old one ran as, since the waiter does; the firewall is never left
// unwatched by an update. It has no window, no icon, no monitor.
#include <windows.h>

#include "hand_off.h"
#include "handover.h"
#include "update_files.h"
#include "../core/installed_program.h"
#include "../core/system_library.h"
#include "../core/text_format.h"

#define WAITER_COMMAND_LINE_SIZE (3 * MAX_PATH)

// By its full path, so that an msiexec.exe planted in the current folder
// never runs. Every process of an update runs in the system folder.
static HANDLE StartInstaller(const char *path)
{
    char application[MAX_PATH];
    char commandLine[WAITER_COMMAND_LINE_SIZE];
    if (!SystemFilePath(application, sizeof application, "msiexec.exe") ||
        !FormatInstallerCommandLine(commandLine, sizeof commandLine, path))
        return NULL;
    return StartProcess(application, commandLine, FALSE, 1);
}

// A handle is passed on only when marked inheritable; under Wine only this
// call marks one.
static BOOL Bequeath(HANDLE handle)
{
    return SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

// This program's full path; 0 when it does not fit, as a name cut to the
// buffer fills it.
static int ProgramPath(char path[MAX_PATH])
{
    ZeroMemory(path, MAX_PATH);
    const DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    return length != 0 && length < MAX_PATH - 1;
}

int StartWaiter(const char *folder, HANDLE package)
{
    char program[MAX_PATH];
    char waiter[MAX_PATH];
    if (!ProgramPath(program) || !UpdateFilePath(waiter, folder, WaiterFileName) ||
        !CopyFileA(program, waiter, TRUE))
        return 0;
    // The waiter waits for this very process to end, so it needs a real
    // handle to it, not the pseudo-handle GetCurrentProcess gives.
    HANDLE started = NULL;
    HANDLE self = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId());
    if (self != NULL) {
        char commandLine[WAITER_COMMAND_LINE_SIZE];
        if (Bequeath(self) && Bequeath(package) &&
            FormatWaiterCommandLine(commandLine, sizeof commandLine, waiter, HandleToULong(self),
                                    HandleToULong(package), program))
            started = StartProcess(waiter, commandLine, TRUE, 1);
        CloseHandle(self);
    }
    if (started == NULL)
        return 0;
    CloseHandle(started);
    return 1;
}

static void StartProgram(const char *program)
{
    char commandLine[MAX_PATH + 2];
    if (!FormatText(commandLine, sizeof commandLine, "\"%s\"", program))
        return;
    HANDLE process = StartProcess(program, commandLine, FALSE, 1);
    if (process != NULL)
        CloseHandle(process);
}

int RunUpdateWaiter(const char *commandLine)
{
    unsigned processValue = 0, packageValue = 0;
    char program[WAITER_PATH_SIZE];
    char package[MAX_PATH];
    const int command = ReadWaiterCommandLine(commandLine, &processValue, &packageValue, program);
    if (command != WAITER_ORDERS)
        return command == NOT_A_WAITER ? WAITER_NOT_ASKED : WAITER_EXIT_MALFORMED;
    HANDLE oldProgram = ULongToHandle(processValue);
    HANDLE packageFile = ULongToHandle(packageValue);

    // Only what the program handed down will do: the package's file, and a
    // process, which has ended once the wait is over. Without them nothing
    // is known about the update, so nothing is deleted and nothing started.
    DWORD exitCode = 0;
    if (GetFileType(packageFile) != FILE_TYPE_DISK || !ProgramPath(package) ||
        !ReplaceFileName(package, sizeof package, InstallerFileName) ||
        WaitForSingleObject(oldProgram, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(oldProgram, &exitCode))
        return WAITER_EXIT_CANNOT_WAIT;
    CloseHandle(oldProgram);

    // The old program has ended: from here on, whatever fails, a program is
    // started again.
    int ended = 0;
    HANDLE installer = StartInstaller(package);
    if (installer != NULL) {
        ended = WaitForSingleObject(installer, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(installer, &exitCode);
        CloseHandle(installer);
    }
    CloseHandle(packageFile);
    DeleteFileA(package);
    const int next = ProgramAfterInstaller(ended, exitCode);
    // The package's path is spent; it takes the installed program's.
    if (next != START_NOTHING)
        StartProgram(next == START_INSTALLED_PROGRAM && InstalledProgramPath(package) ? package : program);
    return WAITER_EXIT_DONE;
}

// The waiter: a copy of this program in the update's folder that sees the
// installation through. The program hands it its own process and the saved
// package and ends; the waiter starts the installer once the program has
// ended, so that the package never finds it running, waits for the
// installer however long it takes, deletes the package and, unless the
// installation finished (the package then starts the new version), starts
// the program again: the firewall is never left unwatched by an update that
// was cancelled, refused or failed. It has no window, no icon, no monitor.
#include <windows.h>

#include "hand_off.h"
#include "update.h"
#include "update_files.h"
#include "update_libraries.h"
#include "version_text.h"
#include "../core/text_format.h"

#define WAITER_COMMAND_LINE_SIZE (3 * MAX_PATH)

// A started process's handle, or NULL; the caller closes it.
static HANDLE StartProcess(const char *application, char *commandLine, BOOL inheritHandles, const char *folder)
{
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(application, commandLine, NULL, NULL, inheritHandles, 0, NULL, folder, &startup, &process))
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// By its full path, so that an msiexec.exe planted in the current folder
// never runs; and from the system folder, so that the installation holds
// no folder of the update's or the program's open as its current one.
static HANDLE StartInstaller(const char *path, BOOL inheritHandles)
{
    char application[MAX_PATH];
    char systemFolder[MAX_PATH];
    char commandLine[WAITER_COMMAND_LINE_SIZE];
    if (!SystemFilePath(application, sizeof application, "msiexec.exe") ||
        !SystemFilePath(systemFolder, sizeof systemFolder, "") ||
        !FormatInstallerCommandLine(commandLine, sizeof commandLine, path))
        return NULL;
    return StartProcess(application, commandLine, inheritHandles, systemFolder);
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

static int StartWaiter(const char *folder, HANDLE package)
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
        char systemFolder[MAX_PATH];
        char commandLine[WAITER_COMMAND_LINE_SIZE];
        if (Bequeath(self) && Bequeath(package) && SystemFilePath(systemFolder, sizeof systemFolder, "") &&
            FormatWaiterCommandLine(commandLine, sizeof commandLine, waiter, HandleToULong(self),
                                    HandleToULong(package), program))
            started = StartProcess(waiter, commandLine, TRUE, systemFolder);
        CloseHandle(self);
    }
    if (started == NULL) {
        DeleteFileA(waiter);
        return 0;
    }
    CloseHandle(started);
    return 1;
}

int StartInstallation(const char *folder, const char *path, HANDLE package)
{
    if (StartWaiter(folder, package))
        return 1;
    // No waiter: the installer is started here, as before there was one,
    // and inherits the handle that keeps the package from changing.
    if (!Bequeath(package))
        return 0;
    HANDLE installer = StartInstaller(path, TRUE);
    if (installer == NULL)
        return 0;
    CloseHandle(installer);
    return 1;
}

// From the waiter's own current folder, the system folder: the program
// needs no other, and holds no folder open that an uninstall removes.
static void StartProgramAgain(const char *program)
{
    char commandLine[MAX_PATH + 2];
    if (!FormatText(commandLine, sizeof commandLine, "\"%s\"", program))
        return;
    HANDLE process = StartProcess(program, commandLine, FALSE, NULL);
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

    // Only what the program handed down will do: a process, which has ended
    // once the wait is over, and the package's file. Without them nothing
    // is known about the update, so nothing is deleted and nothing started.
    DWORD exitCode = 0;
    if (WaitForSingleObject(oldProgram, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(oldProgram, &exitCode) ||
        GetFileType(packageFile) != FILE_TYPE_DISK || !ProgramPath(package) ||
        !ReplaceFileName(package, sizeof package, InstallerFileName))
        return WAITER_EXIT_CANNOT_WAIT;
    CloseHandle(oldProgram);

    int finished = 0;
    HANDLE installer = StartInstaller(package, FALSE);
    if (installer != NULL) {
        if (WaitForSingleObject(installer, INFINITE) != WAIT_OBJECT_0)
            return WAITER_EXIT_CANNOT_WAIT;
        finished = GetExitCodeProcess(installer, &exitCode) && InstallationFinished(exitCode);
        CloseHandle(installer);
    }
    CloseHandle(packageFile);
    DeleteFileA(package);
    if (!finished)
        StartProgramAgain(program);
    return WAITER_EXIT_DONE;
}

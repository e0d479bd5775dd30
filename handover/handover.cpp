// The hand-over itself: the update's folder, the package saved and proven,
// Windows Installer's own check of it, and the waiter started, all under
// the user's update lock. Without a waiter there is no hand-over: the
// program that asked goes on watching and says the update failed, where an
// installer started without one could leave nothing watching.
#include <windows.h>

#include <atomic>

#include "hand_off.h"
#include "handover.h"
#include "test_points.h"
#include "update_files.h"
#include "../core/installed_program.h"
#include "../core/system_library.h"

// Held by a hand-over from making its folder until the waiter runs or the
// folder is removed, and by the program's end for good: the two never
// overlap. Ending is set before the end waits for it.
static CRITICAL_SECTION UpdateFilesLock;
static std::atomic<LONG> Ending(0);

void InitUpdateFilesLock(void)
{
    InitializeCriticalSection(&UpdateFilesLock);
}

void EndUpdates(void)
{
    Ending.store(1);
    // Never left: the process ends right after.
    EnterCriticalSection(&UpdateFilesLock);
}

// Saves the package in the new folder, lets Windows Installer check it,
// and starts the waiter. A server that answers with an error page, or
// anything else, must not get it handed to Windows Installer.
static int SaveAndStartWaiter(const char *folder, const char *installer, DWORD size)
{
    char path[MAX_PATH];
    InstallerFunctions msi;
    HANDLE package = UpdateFilePath(path, folder, InstallerFileName) ? SavePackage(path, installer, size)
                                                                        : INVALID_HANDLE_VALUE;
    if (package == INVALID_HANDLE_VALUE)
        return 0;
    int handedOver = 0;
    HMODULE library = LoadSystemFunctions(MsiList, &msi);
    // A program that is ending starts no waiter: the folder goes instead.
    if (library != NULL && msi.MsiVerifyPackageA(path) == ERROR_SUCCESS && Ending.load() == 0)
        handedOver = StartWaiter(folder, package);
    if (library != NULL)
        FreeLibrary(library);
    // The waiter holds a handle of its own now.
    CloseHandle(package);
    // Removed at the next start of Windows, should the waiter and the
    // program's next start both fail to. Without the rights to arrange that
    // it merely waits for the next start.
    if (handedOver)
        MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return handedOver;
}

int HandOverPackage(const char *installer, unsigned long size)
{
    UserAccess access;
    HANDLE lock = TakeUserAccess(&access) ? TakeUpdateLock(&access) : NULL;
    int handedOver = 0;
    if (lock != NULL) {
        EnterCriticalSection(&UpdateFilesLock);
        char folder[MAX_PATH];
        // Held open until the waiter runs from it.
        HANDLE held = MakeUpdateFolder(folder, &access);
        if (held != INVALID_HANDLE_VALUE) {
            handedOver = SaveAndStartWaiter(folder, installer, size);
            CloseHandle(held);
            // Nothing of an update that was not handed over stays behind.
            if (!handedOver)
                RemoveUpdateFolder(folder);
        }
        LeaveCriticalSection(&UpdateFilesLock);
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
    ReleaseUserAccess(&access);
    return handedOver;
}

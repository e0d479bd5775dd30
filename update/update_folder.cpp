// The update's folder in the temporary folder. The package is saved in a
// folder made new for each update rather than in the temporary folder
// itself, where a file of the same name might already exist, with someone
// else's handle open on it; the waiter runs from there too, away from any
// DLL that was left in the temporary folder under a system library's name.
#include <windows.h>

#include "hand_off.h"
#include "update.h"
#include "update_files.h"
#include "version_text.h"
#include "../core/text_format.h"

#define PATH_SIZE MAX_PATH
// A leftover folder's waiter may still be running, or waiting for an
// installation that started this program: tried again for two minutes.
#define LEFTOVER_ROUNDS 60
#define LEFTOVER_RETRY_MS 2000

// Serialises a round of leftover removal with the start of an update.
static CRITICAL_SECTION LeftoverLock;
static int UpdateStarted = 0;

const char InstallerFileName[] = "~halvotren_installer.msi";
const char WaiterFileName[] = "Halvotren.exe";

int UpdateFilePath(char *path, const char *folder, const char *name)
{
    return FormatText(path, MAX_PATH, "%s\\%s", folder, name);
}

static int TempFolder(char *path)
{
    ZeroMemory(path, PATH_SIZE);
    return DirectoryLengthFits(GetTempPathA(PATH_SIZE, path), PATH_SIZE);
}

// Removes what an update leaves in a folder of this name, then the folder.
// A folder that holds anything else, a file of that name, or a link to
// elsewhere is left alone. 1 when no such folder is left.
static int RemoveUpdateFolder(const char *folder)
{
    const DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return 1;
    static const char *const Files[] = {InstallerFileName, WaiterFileName};
    for (const char *name : Files) {
        char path[PATH_SIZE];
        if (UpdateFilePath(path, folder, name))
            DeleteFileA(path);
    }
    return RemoveDirectoryA(folder);
}

int MakeUpdateFolder(char *folder, size_t size)
{
    char temp[PATH_SIZE];
    if (!TempFolder(temp))
        return 0;
    for (int attempt = 0; attempt < UPDATE_FOLDER_ATTEMPTS; ++attempt) {
        if (!FormatUpdateFolderName(folder, size, temp, attempt))
            return 0;
        RemoveUpdateFolder(folder);
        if (CreateDirectoryA(folder, NULL))
            return 1;
    }
    return 0;
}

HANDLE SavePackage(const char *path, const char *package, DWORD size)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    DWORD written = 0;
    const BOOL whole = WriteFile(file, package, size, &written, NULL) && written == size;
    const BOOL closed = CloseHandle(file);
    // Reading only and sharing only reading: Windows Installer, which reads
    // with the same sharing, can open it; nobody can write, rename or delete
    // it. Between the two opens only the user's own programs could reach it:
    // the new folder has the temporary folder's owner-only permissions, and
    // no handle opened before the file existed can refer to it.
    HANDLE locked = INVALID_HANDLE_VALUE;
    if (whole && closed)
        locked = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (locked == INVALID_HANDLE_VALUE)
        DeleteFileA(path);
    return locked;
}

// Rounds of removal until nothing is left, an update starts, or time is up.
static DWORD WINAPI RemoveLeftovers(LPVOID unused)
{
    (void)unused;
    char temp[PATH_SIZE];
    if (!TempFolder(temp))
        return 0;
    for (int round = 0; round < LEFTOVER_ROUNDS; ++round) {
        int left = 0;
        EnterCriticalSection(&LeftoverLock);
        const int stop = UpdateStarted;
        for (int attempt = 0; !stop && attempt < UPDATE_FOLDER_ATTEMPTS; ++attempt) {
            char folder[PATH_SIZE];
            if (FormatUpdateFolderName(folder, sizeof folder, temp, attempt) && !RemoveUpdateFolder(folder))
                left = 1;
        }
        LeaveCriticalSection(&LeftoverLock);
        if (stop || !left)
            break;
        Sleep(LEFTOVER_RETRY_MS);
    }
    return 0;
}

void StartLeftoverRemoval(void)
{
    InitializeCriticalSection(&LeftoverLock);
    HANDLE thread = CreateThread(NULL, 0, RemoveLeftovers, NULL, 0, NULL);
    if (thread != NULL)
        CloseHandle(thread);
}

void StopLeftoverRemoval(void)
{
    EnterCriticalSection(&LeftoverLock);
    UpdateStarted = 1;
    LeaveCriticalSection(&LeftoverLock);
}

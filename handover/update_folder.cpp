// The update's folder in the temporary folder. The package is saved in a
// folder made new for each update rather than in the temporary folder
// itself, where a file of the same name might already exist, with someone
// else's handle open on it; the waiter runs from there too, away from any
// DLL that was left in the temporary folder under a system library's name.
#include <windows.h>
#include <winternl.h>
#include <sddl.h>

#include <stdlib.h>
#include <string.h>

#include "hand_off.h"
#include "handover.h"
#include "test_points.h"
#include "update_files.h"
#include "../core/system_library.h"
#include "../core/text_format.h"

#define PATH_SIZE MAX_PATH
// A leftover folder's waiter may still be running, or waiting for an
// installation that started this program: tried again for two minutes.
#define LEFTOVER_ROUNDS 60
#define LEFTOVER_RETRY_MS 2000

int UpdateFilePath(char *path, const char *folder, const char *name)
{
    return FormatText(path, MAX_PATH, "%s\\%s", folder, name);
}

int TakeUserAccess(UserAccess *access)
{
    char text[256];
    access->sid = NULL;
    access->descriptor = NULL;
    access->user = (TOKEN_USER *)ProcessTokenInformation(TokenUser);
    return access->user != NULL && ConvertSidToStringSidA(access->user->User.Sid, &access->sid) &&
           FormatUserAccess(text, sizeof text, access->sid) &&
           ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1, &access->descriptor, NULL);
}

void ReleaseUserAccess(UserAccess *access)
{
    if (access->descriptor != NULL)
        LocalFree(access->descriptor);
    if (access->sid != NULL)
        LocalFree(access->sid);
    free(access->user);
}

HANDLE TakeUpdateLock(const UserAccess *access)
{
    char name[128];
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, access->descriptor, FALSE};
    // A name that another account made first and denies this one cannot be
    // opened: no update now.
    HANDLE lock = FormatUpdateLockName(name, sizeof name, access->sid) ? CreateMutexA(&attributes, FALSE, name) : NULL;
    if (lock == NULL)
        return NULL;
    // One that ended while holding it left nothing to wait for.
    const DWORD waited = WaitForSingleObject(lock, UpdateLockWaitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        return lock;
    CloseHandle(lock);
    return NULL;
}

// The name of the update's folder for this attempt in the temporary folder.
static int UpdateFolderName(char folder[PATH_SIZE], int attempt)
{
    char temp[PATH_SIZE];
    ZeroMemory(temp, sizeof temp);
    return DirectoryLengthFits(GetTempPathA(sizeof temp, temp), sizeof temp) &&
           FormatUpdateFolderName(folder, PATH_SIZE, temp, attempt);
}

// A folder, and not a link to one.
static int IsPlainFolder(DWORD attributes)
{
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY;
}

// Whether the folder holds nothing but what an update puts there.
static int HoldsOnlyUpdateFiles(const char *folder)
{
    char pattern[PATH_SIZE];
    WIN32_FIND_DATAA entry;
    HANDLE search = UpdateFilePath(pattern, folder, "*") ? FindFirstFileA(pattern, &entry) : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int ours;
    do
        ours = IsUpdateFolderEntry(entry.cFileName,
                                   (entry.dwFileAttributes &
                                    (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0);
    while (ours && FindNextFileA(search, &entry));
    FindClose(search);
    return ours;
}

// Opens a folder as itself, never as what a link points to, and without
// share-delete: until the handle is closed nobody can rename the folder away
// and put another, or a link, in its place. Opened for listing, since a
// handle with no more than attribute access takes no part in sharing.
static HANDLE PinFolder(const char *folder)
{
    return CreateFileA(folder, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

// A plain folder, by its pinned handle and by its path: Wine opens what a
// link points to all the same, but shows the link by its path.
static int IsPinnedPlainFolder(HANDLE pinned, const char *folder)
{
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(pinned, &information) && IsPlainFolder(information.dwFileAttributes) &&
           IsPlainFolder(GetFileAttributesA(folder));
}

int RemoveUpdateFolder(const char *folder)
{
    // Pinned, so the deletes reach only the folder that was checked. The
    // folder itself goes once it is closed; a link swapped in by then is all
    // that RemoveDirectory could take.
    HANDLE pinned = PinFolder(folder);
    if (pinned == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? LEFTOVER_GONE : LEFTOVER_BUSY;
    int state = LEFTOVER_NOT_OURS;
    if (IsPinnedPlainFolder(pinned, folder) && HoldsOnlyUpdateFiles(folder)) {
        static const char *const Files[] = {InstallerFileName, WaiterFileName};
        for (const char *name : Files) {
            char path[PATH_SIZE];
            if (UpdateFilePath(path, folder, name))
                DeleteFileA(path);
        }
        state = LEFTOVER_BUSY;
    }
    CloseHandle(pinned);
    if (state == LEFTOVER_BUSY && RemoveDirectoryA(folder))
        state = LEFTOVER_GONE;
    return state;
}

// Makes the update's folder and opens it in one step, so that no other
// folder, nor a link, ever stands at its name while the update uses it:
// held for listing and without share-delete, nobody can rename it away
// until the handle is closed. Nothing is left to check afterwards, so it
// works alike on NTFS and on FAT, which keeps no security descriptor at all
// (there the user-only one is simply dropped). Made by its name within the
// temporary folder, opened first: that folder's path, in whatever form the
// system gives it, needs no translating into the system's own names.
// SYNCHRONIZE is asked for in so many words: Windows checks synchronous I/O
// against the access as given, before GENERIC_READ is mapped to what it
// includes, and refuses the call without it (CreateFile always adds it).
static HANDLE CreateHeldFolder(const char *folder, PSECURITY_DESCRIPTOR descriptor)
{
    char temp[PATH_SIZE];
    WCHAR name[32];
    const char *last = strrchr(folder, '\\');
    USHORT length = 0;
    // The name is the program's own, plain ASCII.
    while (last[1 + length] != '\0' && length < sizeof name / sizeof name[0]) {
        name[length] = (unsigned char)last[1 + length];
        ++length;
    }
    UNICODE_STRING objectName = {(USHORT)(length * sizeof(WCHAR)), (USHORT)(length * sizeof(WCHAR)), name};
    HANDLE held = INVALID_HANDLE_VALUE;
    memcpy(temp, folder, last + 1 - folder);
    temp[last + 1 - folder] = '\0';
    HANDLE parent = CreateFileA(temp, FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (parent == INVALID_HANDLE_VALUE)
        return held;
    OBJECT_ATTRIBUTES attributes = {sizeof attributes, parent, &objectName, OBJ_CASE_INSENSITIVE, descriptor, NULL};
    IO_STATUS_BLOCK status;
    if (NtCreateFile(&held, GENERIC_READ | SYNCHRONIZE, &attributes, &status, NULL, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     FILE_CREATE, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0) < 0)
        held = INVALID_HANDLE_VALUE;
    CloseHandle(parent);
    return held;
}

HANDLE MakeUpdateFolder(char folder[MAX_PATH], const UserAccess *access)
{
    HANDLE held = INVALID_HANDLE_VALUE;
    for (int attempt = 0; held == INVALID_HANDLE_VALUE && attempt < UPDATE_FOLDER_ATTEMPTS; ++attempt) {
        if (!UpdateFolderName(folder, attempt))
            break;
        RemoveUpdateFolder(folder);
        held = CreateHeldFolder(folder, access->descriptor);
    }
    if (held != INVALID_HANDLE_VALUE)
        AfterUpdateFolderMade();
    return held;
}

// Rounds of removal until nothing is left to retry or time is up.
static unsigned __stdcall RemoveLeftovers(void *unused)
{
    (void)unused;
    for (int round = 0; round < LEFTOVER_ROUNDS; ++round) {
        int busy = 1;
        UserAccess access;
        HANDLE lock = TakeUserAccess(&access) ? TakeUpdateLock(&access) : NULL;
        ReleaseUserAccess(&access);
        if (lock != NULL) {
            busy = 0;
            for (int attempt = 0; attempt < UPDATE_FOLDER_ATTEMPTS; ++attempt) {
                char folder[PATH_SIZE];
                if (UpdateFolderName(folder, attempt) &&
                    RemoveUpdateFolder(folder) == LEFTOVER_BUSY)
                    busy = 1;
            }
            ReleaseMutex(lock);
            CloseHandle(lock);
        }
        if (!busy)
            break;
        Sleep(LEFTOVER_RETRY_MS);
    }
    return 0;
}

// Whether anything stands at an update folder's name: seldom, so the thread
// that removes it is seldom needed. (A thread that has ended leaves its
// stack and the C runtime's unwinding library mapped under Wine.)
static int AnyLeftover(void)
{
    for (int attempt = 0; attempt < UPDATE_FOLDER_ATTEMPTS; ++attempt) {
        char folder[PATH_SIZE];
        if (UpdateFolderName(folder, attempt) && GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES)
            return 1;
    }
    return 0;
}

void StartLeftoverRemoval(void)
{
    if (!AnyLeftover())
        return;
    StartDetachedThread(RemoveLeftovers, NULL);
}

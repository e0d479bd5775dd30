// The update's folder in the temporary folder. The package is saved in a
// folder made new for each update rather than in the temporary folder
// itself, where a file of the same name might already exist, with someone
// else's handle open on it; the waiter runs from there too, away from any
// DLL that was left in the temporary folder under a system library's name.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <stdlib.h>
#include <string.h>

#include "hand_off.h"
#include "handover.h"
#include "test_points.h"
#include "update_files.h"
#include "../core/session.h"
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

// Whether the pinned folder is the one this update made: a plain folder,
// and the user's, as it was made. In a temporary folder that all users
// share, someone else could have renamed it away and made another of that
// name before it was pinned.
static int IsFolderMade(HANDLE pinned, const char *folder, const UserAccess *access)
{
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    const int made = IsPinnedPlainFolder(pinned, folder) &&
                     GetSecurityInfo(pinned, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL, NULL,
                                     &descriptor) == ERROR_SUCCESS &&
                     SameSid(owner, access->user->User.Sid);
    if (descriptor != NULL)
        LocalFree(descriptor);
    return made;
}

HANDLE MakeUpdateFolder(char folder[MAX_PATH], const UserAccess *access)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, access->descriptor, FALSE};
    for (int attempt = 0; attempt < UPDATE_FOLDER_ATTEMPTS; ++attempt) {
        if (!UpdateFolderName(folder, attempt))
            break;
        RemoveUpdateFolder(folder);
        if (!CreateDirectoryA(folder, &attributes))
            continue;
        AfterUpdateFolderMade(0);
        HANDLE pinned = PinFolder(folder);
        if (pinned != INVALID_HANDLE_VALUE && IsFolderMade(pinned, folder, access))
            return pinned;
        if (pinned != INVALID_HANDLE_VALUE)
            CloseHandle(pinned);
        break;
    }
    return INVALID_HANDLE_VALUE;
}

// Rounds of removal until nothing is left to retry or time is up.
static DWORD WINAPI RemoveLeftovers(LPVOID unused)
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

void StartLeftoverRemoval(void)
{
    HANDLE thread = CreateThread(NULL, 0, RemoveLeftovers, NULL, 0, NULL);
    if (thread != NULL)
        CloseHandle(thread);
}

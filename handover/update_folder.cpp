// The update's folder in the temporary folder. The package is saved in a
// folder made new for each update rather than in the temporary folder
// itself, where a file of the same name might already exist, with someone
// else's handle open on it; the waiter runs from there too, away from any
// DLL that was left in the temporary folder under a system library's name.
#include <windows.h>
#include <sddl.h>

#include <stdlib.h>
#include <string.h>

#include "hand_off.h"
#include "handover.h"
#include "update_files.h"
#include "../core/system_library.h"
#include "../core/text_format.h"

#define PATH_SIZE MAX_PATH
// A leftover folder's waiter may still be running, or waiting for an
// installation that started this program: tried again for two minutes.
#define LEFTOVER_ROUNDS 60
#define LEFTOVER_RETRY_MS 2000

// Per logon session: another user's updates have temporary folders of
// their own.
#define UPDATE_LOCK_NAME "Local\\Halvotren"
// A round of removal or a hand-over takes seconds; one that holds the lock
// longer has gone wrong, and waiting for it would hang the menu.
#define UPDATE_LOCK_WAIT_MS 60000

// The user, the system and the administrators, and nobody else: in a
// temporary folder that all users share, as some managed machines have, the
// folder would otherwise inherit rights for everyone to create files and
// folders in it. Protected, so that nothing above it adds any; inherited by
// the package and the waiter.
static const char FolderAccess[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)";

int UpdateFilePath(char *path, const char *folder, const char *name)
{
    return FormatText(path, MAX_PATH, "%s\\%s", folder, name);
}

HANDLE TakeUpdateLock(void)
{
    HANDLE lock = CreateMutexA(NULL, FALSE, UPDATE_LOCK_NAME);
    if (lock == NULL)
        return NULL;
    // One that ended while holding it left nothing to wait for.
    const DWORD waited = WaitForSingleObject(lock, UPDATE_LOCK_WAIT_MS);
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

int RemoveUpdateFolder(const char *folder)
{
    // Opened as itself, never as what a link points to, and without
    // share-delete: until it is closed nobody can rename the folder away and
    // put a link in its place, so the deletes reach only the folder that was
    // checked. The folder itself goes once it is closed; a link swapped in by
    // then is all that RemoveDirectory could take. Wine opens what a link
    // points to all the same, but shows the link by its path.
    HANDLE pinned = CreateFileA(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (pinned == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? LEFTOVER_GONE : LEFTOVER_BUSY;
    BY_HANDLE_FILE_INFORMATION information;
    int state = LEFTOVER_NOT_OURS;
    if (GetFileInformationByHandle(pinned, &information) && IsPlainFolder(information.dwFileAttributes) &&
        IsPlainFolder(GetFileAttributesA(folder)) && HoldsOnlyUpdateFiles(folder)) {
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

static int CreateProtectedFolder(const char *folder)
{
    TOKEN_USER *user = (TOKEN_USER *)ProcessTokenInformation(TokenUser);
    char *userSid = NULL;
    char access[sizeof FolderAccess + 192];
    PSECURITY_DESCRIPTOR descriptor = NULL;
    int created = 0;
    if (user != NULL && ConvertSidToStringSidA(user->User.Sid, &userSid) &&
        FormatText(access, sizeof access, FolderAccess, userSid) &&
        ConvertStringSecurityDescriptorToSecurityDescriptorA(access, SDDL_REVISION_1, &descriptor, NULL)) {
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        created = CreateDirectoryA(folder, &attributes);
        LocalFree(descriptor);
    }
    if (userSid != NULL)
        LocalFree(userSid);
    free(user);
    return created;
}

int MakeUpdateFolder(char folder[MAX_PATH])
{
    for (int attempt = 0; attempt < UPDATE_FOLDER_ATTEMPTS; ++attempt) {
        if (!UpdateFolderName(folder, attempt))
            return 0;
        RemoveUpdateFolder(folder);
        if (CreateProtectedFolder(folder))
            return 1;
    }
    return 0;
}

// Rounds of removal until nothing is left to retry or time is up.
static DWORD WINAPI RemoveLeftovers(LPVOID unused)
{
    (void)unused;
    for (int round = 0; round < LEFTOVER_ROUNDS; ++round) {
        int busy = 1;
        HANDLE lock = TakeUpdateLock();
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

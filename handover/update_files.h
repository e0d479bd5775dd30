// The steps of a hand-over, behind its entry (handover.h): the update's
// folder in the temporary folder with the saved package and the waiter, the
// session's lock on updates, and msi.dll.
#ifndef HALVOTREN_HANDOVER_UPDATE_FILES_H
#define HALVOTREN_HANDOVER_UPDATE_FILES_H

#include <windows.h>

// Zero-fills path, MAX_PATH bytes, and writes folder\name into it: 1 when
// it fitted.
int UpdateFilePath(char *path, const char *folder, const char *name);

// What an update's folder and lock are made with: the user's token entry,
// its SID as text, and a security descriptor that is the user's own and
// lets in only the user, the system and the administrators.
struct UserAccess {
    TOKEN_USER *user;
    char *sid;
    PSECURITY_DESCRIPTOR descriptor;
};

// 1 when all of it could be had; either way the caller releases it.
int TakeUserAccess(UserAccess *access);
void ReleaseUserAccess(UserAccess *access);

// How long an update waits for the lock that another holds.
extern const unsigned long UpdateLockWaitMs;

// One update at a time for a user in a logon session: an update holds this
// lock from making its folder until its waiter runs, and each round of
// leftover removal holds it too, so that no round takes an update in
// progress for a leftover. The mutex, owned, or NULL when it could not be
// had in time, or its name is taken by something this user cannot open;
// the caller releases it (ReleaseMutex) and closes it.
HANDLE TakeUpdateLock(const UserAccess *access);

// Makes a new folder for this update that only the user, the system and the
// administrators can reach; folder receives its name. A leftover of an
// earlier update is removed first; a name that stays taken is passed over
// for the next one. Never reuses a folder or file that exists. The folder,
// made and held open in one step, so that nobody can rename it away and put
// another in its place until the caller closes it, or INVALID_HANDLE_VALUE.
HANDLE MakeUpdateFolder(char folder[MAX_PATH], const UserAccess *access);

// Saves the package as a new file at path and opens it again for reading
// only, denying everyone else writing and deleting for as long as that
// handle is open, then reads it back through that handle: the handle, once
// the file holds exactly the package's bytes, or INVALID_HANDLE_VALUE with
// no file left behind.
HANDLE SavePackage(const char *path, const char *package, DWORD size);

enum LeftoverState { LEFTOVER_GONE, LEFTOVER_BUSY, LEFTOVER_NOT_OURS };

// Removes an update's folder: a folder of this name that holds the package,
// the waiter, or nothing. Anything else of that name, a link included, is
// left whole (LEFTOVER_NOT_OURS); a folder that could not be removed, a
// file in it still in use for instance, is LEFTOVER_BUSY.
int RemoveUpdateFolder(const char *folder);

// Starts the waiter, a copy of this program in folder, and hands it this
// process and the package, held open by package: 1 when it runs. The caller
// still closes package.
int StartWaiter(const char *folder, HANDLE package);

#endif

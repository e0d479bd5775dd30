// What an update leaves on the machine while it runs: its own folder in the
// temporary folder with the saved package and the waiter, the copy of this
// program that sees the installation through.
#ifndef HALVOTREN_UPDATE_UPDATE_FILES_H
#define HALVOTREN_UPDATE_UPDATE_FILES_H

#include <windows.h>

// The two files of an update's folder: the package and the waiter.
extern const char InstallerFileName[];
extern const char WaiterFileName[];

// Zero-fills path, MAX_PATH bytes, and writes folder\name into it: 1 when
// it fitted.
int UpdateFilePath(char *path, const char *folder, const char *name);

// Makes a new folder for this update; folder receives its name. A leftover
// of an earlier update is removed first; a name that stays taken is passed
// over for the next one. Never reuses a folder or file that exists.
int MakeUpdateFolder(char *folder, size_t size);

// Saves the package as a new file at path and opens it again for reading
// only, denying everyone else writing and deleting for as long as that
// handle is open. The handle, or INVALID_HANDLE_VALUE with no file left
// behind.
HANDLE SavePackage(const char *path, const char *package, DWORD size);

// Once the program has started the waiter's round of leftover removal
// (StartLeftoverRemoval), an update that is about to make its folder stops
// it, so that the round never takes the new folder for a leftover.
void StopLeftoverRemoval(void);

// Hands the package saved at path in folder, held open by package, to the
// waiter, which starts the system's msiexec.exe on it once this program has
// ended; when no waiter can be made, starts msiexec.exe at once. 1 when one
// of them runs; the caller still closes package.
int StartInstallation(const char *folder, const char *path, HANDLE package);

#endif

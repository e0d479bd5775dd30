// The tray menu's Check for Updates command, and the two other ways in which
// updates touch the program's life: the waiter, a copy of the program that
// sees an installation through, and the removal of what updates left.
#ifndef HALVOTREN_UPDATE_UPDATE_H
#define HALVOTREN_UPDATE_UPDATE_H

// Asks the update server whether a newer version exists. When one does and
// the user wants it, downloads and checks its package and hands it to the
// waiter (or, failing that, to Windows Installer): 1, and the caller ends
// the program at once so that the installer can replace it. Otherwise 0,
// with every handle, library and buffer it used released.
int CheckForUpdates(void);

// The waiter's exit codes, for whoever watches it: it did its work, its
// command line was not one the program writes, or it had nothing to wait on.
#define WAITER_EXIT_DONE 0
#define WAITER_EXIT_MALFORMED 2
#define WAITER_EXIT_CANNOT_WAIT 3

#define WAITER_NOT_ASKED (-1)

// When the command line asks for the waiter, well formed or not, runs it
// and returns its exit code; otherwise WAITER_NOT_ASKED at once.
int RunUpdateWaiter(const char *commandLine);

// Removes, in the background, the folders that earlier updates left in the
// temporary folder; a waiter may still be ending, so it tries again for a
// while. Called once at start, before any update check.
void StartLeftoverRemoval(void);

#endif

// The hand-over of a checked update package to Windows Installer, seen
// through by the waiter: a copy of this program that starts the installer
// once the program has ended and then always starts a program again. And
// the removal, at every start, of what earlier updates left behind.
#ifndef HALVOTREN_HANDOVER_HANDOVER_H
#define HALVOTREN_HANDOVER_HANDOVER_H

// Saves the package, size bytes that were checked in memory, in a folder
// made for this update, proves that the file holds exactly those bytes,
// lets Windows Installer check it and starts the waiter: 1, and the caller
// ends the program at once so that the installer can replace it. 0 when
// any of it failed, with nothing started and nothing of the update left.
int HandOverPackage(const char *package, unsigned long size);

// The waiter's exit codes, for whoever watches it: it did its work, its
// command line was not one the program writes, or it had nothing to wait on.
#define WAITER_EXIT_DONE 0
#define WAITER_EXIT_MALFORMED 2
#define WAITER_EXIT_CANNOT_WAIT 3

#define WAITER_NOT_ASKED (-1)

// When the command line asks for the waiter, well formed or not, runs it
// and returns its exit code; otherwise WAITER_NOT_ASKED at once.
int RunUpdateWaiter(const char *commandLine);

// Readies the lock that keeps an update's files apart from the program's
// end. Called once at start, before any update.
void InitUpdateFilesLock(void);

// Called as the program ends, by Exit or WM_CLOSE, whatever a check is
// doing: waits only for an update's files under way (the folder, the saved
// package, the waiter started; local work, never the network or a box) and
// makes any hand-over that has not started its waiter yet remove its folder
// instead; no update makes files afterwards. So an ending leaves no update
// folder behind. Should the process be killed in the middle (from outside,
// or the power fails), the half-made folder, ~halvotren_update0 to 7 in the
// temporary folder holding no more than the package and the waiter, is
// what the next start's leftover removal takes.
void EndUpdates(void);

// Removes, in the background, the folders that earlier updates left in the
// temporary folder; a waiter may still be ending, so it tries again for a
// while. Called once at start.
void StartLeftoverRemoval(void);

#endif

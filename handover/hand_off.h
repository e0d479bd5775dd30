// The decisions of an update's hand-over to its waiter: the copy of this
// program that starts the installer once the program has ended, and then
// starts a program again. No Windows header: these are tested on any
// compiler.
#ifndef HALVOTREN_HANDOVER_HAND_OFF_H
#define HALVOTREN_HANDOVER_HAND_OFF_H

#include <stddef.h>

// The first argument that makes a start of the program a waiter's.
#define WAITER_SWITCH "/update-waiter"

// The waiter's folder in the temporary folder is "~halvotren_update" and a
// number; a name taken by something that cannot be removed is passed over.
#define UPDATE_FOLDER_ATTEMPTS 8
// The two files of an update's folder: the package and the waiter.
extern const char InstallerFileName[];
extern const char WaiterFileName[];
// Room for the program's path on the waiter's command line, terminator
// included.
#define WAITER_PATH_SIZE 260

// The package's property that tells it the waiter runs it: the waiter then
// starts the program itself, as the account it ran as.
#define WAITER_PROPERTY "HALVOTREN_WAITER"

enum WaiterCommand { NOT_A_WAITER, WAITER_MALFORMED, WAITER_ORDERS };

// The waiter's command line: its own path quoted, the switch, the values
// of the two handles it inherits (the old program's process and the saved
// package, held open so that nobody changes it) and the path of the program
// to start again, quoted. 1 when all of it fitted.
int FormatWaiterCommandLine(char *buffer, size_t size, const char *waiter, unsigned process,
                            unsigned package, const char *program);

// Reads a command line as the program received it. NOT_A_WAITER unless the
// first argument is exactly the switch. WAITER_ORDERS only for exactly what
// FormatWaiterCommandLine writes, with both handles non-zero multiples of
// four and 32 bits wide; anything else is WAITER_MALFORMED.
int ReadWaiterCommandLine(const char *commandLine, unsigned *process, unsigned *package,
                          char program[WAITER_PATH_SIZE]);

// The installer's command line for the package at path, quoted, with the
// waiter's property. 1 when it fitted.
int FormatInstallerCommandLine(char *buffer, size_t size, const char *path);

enum ProgramToStart { START_INSTALLED_PROGRAM, START_OLD_PROGRAM, START_NOTHING };

// What the waiter starts once the installer has ended with exitCode (ended
// is 0 when it could not be started or waited for): the program the
// installation put in place when it finished, even if a restart must
// complete it; nothing while Windows restarts; otherwise the old program,
// so that an update that was cancelled, refused or failed leaves the
// firewall watched.
int ProgramAfterInstaller(int ended, unsigned long exitCode);

// The name of the update's folder for this attempt (0 to
// UPDATE_FOLDER_ATTEMPTS - 1) in the temporary folder temp, which ends in a
// backslash as the system gives it. 1 when it fitted.
int FormatUpdateFolderName(char *folder, size_t size, const char *temp, int attempt);

// Replaces what follows the last backslash of path with name ("" leaves
// the folder, backslash included). 0, with path untouched, when path has no
// backslash or the result does not fit.
int ReplaceFileName(char *path, size_t size, const char *name);

// The access list of an update's folder and lock for the user whose SID is
// sid, as text: owned by the user, and open to the user, the system and the
// administrators only, inheriting nothing from above. 1 when it fitted.
int FormatUserAccess(char *buffer, size_t size, const char *sid);

// The name of the lock that lets one update at a time run for the user whose
// SID is sid: in the logon session's namespace, and the user's own, so that
// no other account or service that takes a name first can hold it. 1 when
// it fitted.
int FormatUpdateLockName(char *buffer, size_t size, const char *sid);

// 1 when an entry of a leftover update folder is one an update puts there:
// the package or the waiter as a plain file (not a folder, not a link), or
// the folder's own "." and "..".
int IsUpdateFolderEntry(const char *name, int plainFile);

#endif

// The decisions of an update's hand-off to its waiter: the copy of this
// program that starts the installer once the program has ended, and starts
// the program again when the installation did not finish. No Windows
// header: these are tested on any compiler.
#ifndef HALVOTREN_UPDATE_HAND_OFF_H
#define HALVOTREN_UPDATE_HAND_OFF_H

#include <stddef.h>

// The first argument that makes a start of the program a waiter's.
#define WAITER_SWITCH "/update-waiter"

// The waiter's folder in the temporary folder is "~halvotren_update" and a
// number; a name taken by something that cannot be removed is passed over.
#define UPDATE_FOLDER_ATTEMPTS 8
// Room for the program's path on the waiter's command line, terminator
// included.
#define WAITER_PATH_SIZE 260

enum WaiterCommand { NOT_A_WAITER, WAITER_MALFORMED, WAITER_ORDERS };

// The waiter's command line: its own path quoted, the switch, the values
// of the two handles it inherits (the old program's process and the saved
// package, held open so that nobody changes it) and the path of the program
// to start again, quoted. 1 when all of it fitted.
int FormatWaiterCommandLine(char *buffer, size_t size, const char *waiter, unsigned process,
                            unsigned package, const char *program);

// Reads a command line as the program received it. NOT_A_WAITER unless the
// first argument is exactly the switch. WAITER_ORDERS only for exactly what
// FormatWaiterCommandLine writes, with both handles non-zero and 32 bits
// wide; anything else is WAITER_MALFORMED.
int ReadWaiterCommandLine(const char *commandLine, unsigned *process, unsigned *package,
                          char program[WAITER_PATH_SIZE]);

// Windows Installer's exit codes for an installation that finished: done,
// done but a restart is needed, done and a restart has begun. The package
// then starts the new version itself.
int InstallationFinished(unsigned long exitCode);

// The name of the update's folder for this attempt (0 to
// UPDATE_FOLDER_ATTEMPTS - 1) in the temporary folder temp, which ends in a
// backslash as the system gives it. 1 when it fitted.
int FormatUpdateFolderName(char *folder, size_t size, const char *temp, int attempt);

// Replaces what follows the last backslash of path with name ("" leaves
// the folder, backslash included). 0, with path untouched, when path has no
// backslash or the result does not fit.
int ReplaceFileName(char *path, size_t size, const char *name);

#endif

// Moments of the hand-over at which the tests' build of the program acts as
// another program on the machine could; the shipped program does nothing
// there. Compiled into each build of the program with its own definitions.
#ifndef HALVOTREN_HANDOVER_TEST_POINTS_H
#define HALVOTREN_HANDOVER_TEST_POINTS_H

// Between the package's write and its reopening for reading only.
void AfterPackageWritten(const char *path);

// Once the update's folder is made and held, while it is still empty.
void AfterUpdateFolderMade(void);

// Once a check has given the user its last answer, before it releases what
// it used, which can take seconds (Wine's WinINet has taken three).
void AfterCheckAnswered(void);

#endif

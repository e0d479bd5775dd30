// The tray menu's Check for Updates command.
#ifndef HALVOTREN_UPDATE_UPDATE_H
#define HALVOTREN_UPDATE_UPDATE_H

// Check for Updates is under way for the user from when it is taken until
// its last box is dismissed (or it hands over, and the program ends): 1 when
// none was and the caller has now taken it and starts the check. Given
// back when the check cannot be started.
int TakeUpdateCheck(void);
void GiveBackUpdateCheck(void);

// Asks the update server whether a newer version exists. When one does and
// the user wants it, downloads and checks its package and hands it to the
// waiter: 1, and the caller ends the program at once so that the installer
// can replace it. Otherwise 0, with every handle, library and buffer it
// used released.
int CheckForUpdates(void);

#endif

// The tray menu's Check for Updates command.
#ifndef HALVOTREN_UPDATE_UPDATE_H
#define HALVOTREN_UPDATE_UPDATE_H

// Asks the update server whether a newer version exists. When one does and
// the user wants it, downloads its installer, starts Windows Installer on it
// and ends this program so that the installer can replace it; otherwise
// returns with every handle and buffer it used released.
void CheckForUpdates(void);

#endif

// Whether a downloaded installer comes from this program's own publisher.
#ifndef HALVOTREN_UPDATE_PUBLISHER_H
#define HALVOTREN_UPDATE_PUBLISHER_H

// 1 when the installer at this path may be started: this program is
// unsigned (or its signature does not verify), or the installer's
// Authenticode signature verifies and names the same publisher under the
// same root. Every verification state is closed before it returns.
int InstallerFromOurPublisher(const char *installerPath);

#endif

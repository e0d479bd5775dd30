// The publisher's update key the build put into this program.
#ifndef HALVOTREN_UPDATE_UPDATE_KEY_H
#define HALVOTREN_UPDATE_UPDATE_KEY_H

// The 32-byte Ed25519 public key, or null for a program built without one,
// which takes any package that Windows Installer takes, as programs
// released before the key did.
const unsigned char *BuiltInUpdateKey(void);

#endif

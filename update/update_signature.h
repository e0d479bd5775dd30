// Whether a downloaded package is the one its publisher released. The update
// server speaks plain HTTP, so whoever answers for it on the user's network
// could serve any package; a program with the publisher's update key built
// in starts only a package that comes with the publisher's signature. No
// Windows header: the rule is tested on any compiler.
#ifndef HALVOTREN_UPDATE_UPDATE_SIGNATURE_H
#define HALVOTREN_UPDATE_UPDATE_SIGNATURE_H

#include <stddef.h>

#include "../signature/ed25519.h"

// The signature lies beside the package: its URL with this appended.
#define UPDATE_SIGNATURE_SUFFIX ".sig"

// 1 when signature, as downloaded (signatureSize bytes), is the raw Ed25519
// signature made with key over "Halvotren update", a line feed, the version
// text exactly as the version file gives it, a line feed and the package.
// The version text is signed so that a genuine package cannot be offered as
// another version than the one it was released as.
int UpdateSignatureValid(const unsigned char key[ED25519_KEY_SIZE], const unsigned char *signature,
                         size_t signatureSize, const char *versionText, const void *package,
                         size_t packageSize);

#endif

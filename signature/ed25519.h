// Ed25519 signature verification (RFC 8032, pure Ed25519), strict: a
// signature whose S is not below the group order, or a key or R that is not
// the canonical encoding of a point on the curve, is refused. Only public
// data passes through here, so the code is not constant-time. No Windows
// header: it is tested on any compiler.
#ifndef HALVOTREN_SIGNATURE_ED25519_H
#define HALVOTREN_SIGNATURE_ED25519_H

#include <stddef.h>

#include "sha512.h"

#define ED25519_KEY_SIZE 32
#define ED25519_SIGNATURE_SIZE 64

// A verification fed the message in pieces, for messages that are not in
// one buffer: begin with the signature and the key, add the message, end.
struct Ed25519Check {
    Sha512 hash;
    unsigned char signature[ED25519_SIGNATURE_SIZE];
    unsigned char key[ED25519_KEY_SIZE];
};

void Ed25519CheckBegin(Ed25519Check *check, const unsigned char signature[ED25519_SIGNATURE_SIZE],
                       const unsigned char key[ED25519_KEY_SIZE]);
void Ed25519CheckAdd(Ed25519Check *check, const void *data, size_t size);
// 1 when the signature is the key's over everything added, 0 otherwise.
int Ed25519CheckEnd(Ed25519Check *check);

// The same for a message in one buffer.
int Ed25519Verify(const unsigned char signature[ED25519_SIGNATURE_SIZE],
                  const unsigned char key[ED25519_KEY_SIZE], const void *message, size_t size);

// 1 when the 32 bytes are the canonical encoding of a point on the curve,
// as a key and R must be: y below p, an x for that y, and no sign bit on
// x = 0.
int Ed25519IsPoint(const unsigned char encoding[32]);

#endif

// SHA-512 (FIPS 180-4), fed in pieces of any size. No Windows header: it is
// tested on any compiler.
#ifndef HALVOTREN_SIGNATURE_SHA512_H
#define HALVOTREN_SIGNATURE_SHA512_H

#include <stddef.h>
#include <stdint.h>

#define SHA512_DIGEST_SIZE 64

struct Sha512 {
    uint64_t state[8];
    uint64_t length;  // bytes added so far
    unsigned char block[128];
};

void Sha512Begin(Sha512 *hash);
void Sha512Add(Sha512 *hash, const void *data, size_t size);
// Writes the digest; the hash must be begun again before it is used again.
void Sha512End(Sha512 *hash, unsigned char digest[SHA512_DIGEST_SIZE]);

#endif

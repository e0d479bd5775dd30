#include "update_signature.h"

#include <string.h>

static const char SignedPrefix[] = "Halvotren update\n";

int UpdateSignatureValid(const unsigned char key[ED25519_KEY_SIZE], const unsigned char *signature,
                         size_t signatureSize, const char *versionText, const void *package,
                         size_t packageSize)
{
    if (signatureSize != ED25519_SIGNATURE_SIZE)
        return 0;
    Ed25519Check check;
    Ed25519CheckBegin(&check, signature, key);
    Ed25519CheckAdd(&check, SignedPrefix, sizeof SignedPrefix - 1);
    Ed25519CheckAdd(&check, versionText, strlen(versionText));
    Ed25519CheckAdd(&check, "\n", 1);
    Ed25519CheckAdd(&check, package, packageSize);
    return Ed25519CheckEnd(&check);
}

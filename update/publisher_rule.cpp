#include "publisher_rule.h"

#include <string.h>

static int SameBytes(const unsigned char *a, size_t aLength, const unsigned char *b, size_t bLength)
{
    return aLength == bLength && aLength > 0 && a != nullptr && b != nullptr && memcmp(a, b, aLength) == 0;
}

int SamePublisher(const SignerIdentity *a, const SignerIdentity *b)
{
    return SameBytes(a->subject, a->subjectLength, b->subject, b->subjectLength) &&
           SameBytes(a->root, a->rootLength, b->root, b->rootLength);
}

int InstallerAcceptable(int programSigned, int installerVerified, int samePublisher)
{
    if (!programSigned)
        return 1;
    return installerVerified && samePublisher;
}

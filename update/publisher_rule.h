// Who may supply this program's updates. No Windows header: the rule is
// tested on any compiler.
#ifndef HALVOTREN_UPDATE_PUBLISHER_RULE_H
#define HALVOTREN_UPDATE_PUBLISHER_RULE_H

#include <stddef.h>

// What identifies a signer: its own certificate's subject name, and the
// root certificate its chain ends in, both as encoded.
struct SignerIdentity {
    const unsigned char *subject;
    size_t subjectLength;
    const unsigned char *root;
    size_t rootLength;
};

// 1 when both name the same publisher: the same subject byte for byte under
// the same root. A renewed certificate (new key, same name, same root) is the
// same publisher; the same name under another root is not.
int SamePublisher(const SignerIdentity *a, const SignerIdentity *b);

// Whether a downloaded installer may be started. A signed program takes only
// a verified installer of its own publisher; an unsigned one (or one whose
// signature does not verify) takes any, as unsigned releases always have.
int InstallerAcceptable(int programSigned, int installerVerified, int samePublisher);

#endif

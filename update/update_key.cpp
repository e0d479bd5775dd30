// Compiled against the update_key_bytes.h the build generated for this program.
#include <update_key_bytes.h>

#include "update_key.h"

#ifdef HALVOTREN_UPDATE_KEY
static const unsigned char UpdateKey[] = {HALVOTREN_UPDATE_KEY};
static_assert(sizeof UpdateKey == 32, "an Ed25519 public key has 32 bytes");
#define UPDATE_KEY UpdateKey
#else
#define UPDATE_KEY nullptr
#endif

const unsigned char *BuiltInUpdateKey(void)
{
    return UPDATE_KEY;
}

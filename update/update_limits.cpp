#include "update_limits.h"

// The shipped limits: a minute without a byte, ten minutes in all.
#ifndef HALVOTREN_IDLE_LIMIT_MS
#define HALVOTREN_IDLE_LIMIT_MS 60000
#endif
#ifndef HALVOTREN_CHECK_LIMIT_MS
#define HALVOTREN_CHECK_LIMIT_MS 600000
#endif

const unsigned long IdleLimitMs = HALVOTREN_IDLE_LIMIT_MS;
const unsigned long CheckLimitMs = HALVOTREN_CHECK_LIMIT_MS;

#include <windows.h>

#include "update_files.h"

// A round of leftover removal or a hand-over takes seconds; one that holds
// the lock longer has gone wrong, and waiting for it would hang the menu. A
// test build may wait less.
#ifndef HALVOTREN_LOCK_WAIT_MS
#define HALVOTREN_LOCK_WAIT_MS 60000
#endif

const unsigned long UpdateLockWaitMs = HALVOTREN_LOCK_WAIT_MS;

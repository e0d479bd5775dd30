// How long an update check waits on the network. Compiled into each build
// of the program on its own, so that a test build can wait less than the
// shipped program does.
#ifndef HALVOTREN_UPDATE_UPDATE_LIMITS_H
#define HALVOTREN_UPDATE_UPDATE_LIMITS_H

// A request that delivers nothing for this long fails.
extern const unsigned long IdleLimitMs;
// A whole check, version file, package and signature together, that has
// waited on the network for this long fails; the time its boxes are open
// does not count.
extern const unsigned long CheckLimitMs;

#endif

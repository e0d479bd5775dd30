#include "session.h"

#include <string.h>

// A SID is eight bytes and four for each of its subauthorities, whose count
// is its second byte.
static unsigned long SidSize(const void *sid)
{
    return 8ul + 4ul * static_cast<const unsigned char *>(sid)[1];
}

int GoesOnAfterInstallation(const TokenGroup *groups, unsigned long count, const void *stationSid,
                            unsigned long stationSize, unsigned long stationError)
{
    if (stationError != 0)
        return stationError == NO_LOGON_SESSIONS;
    for (unsigned long i = 0; i < count; ++i) {
        if ((groups[i].attributes & LOGON_SESSION_GROUP) != LOGON_SESSION_GROUP)
            continue;
        return SidSize(groups[i].sid) == stationSize && memcmp(groups[i].sid, stationSid, stationSize) == 0;
    }
    return 0;
}

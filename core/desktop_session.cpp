// The logon session of whoever runs this process, set against the window
// station's: the package starts the program it installed with the installed
// switch, as whoever ran the installer, and its closing program ends only
// the programs of the desktop's own session.
#include <windows.h>

#include <stddef.h>
#include <stdlib.h>

#include "session.h"
#include "system_library.h"

static_assert(sizeof(TokenGroup) == sizeof(SID_AND_ATTRIBUTES) &&
                  offsetof(TokenGroup, attributes) == offsetof(SID_AND_ATTRIBUTES, Attributes),
              "a token's groups are read as the system lays them out");

int InDesktopSession(void)
{
    // Large enough for any SID.
    unsigned char stationSid[SECURITY_MAX_SID_SIZE];
    DWORD stationSize = 0;
    const DWORD stationError = GetUserObjectInformationA(GetProcessWindowStation(), UOI_USER_SID, stationSid,
                                                         sizeof stationSid, &stationSize)
                                   ? 0
                                   : GetLastError();
    TOKEN_GROUPS *groups = (TOKEN_GROUPS *)ProcessTokenInformation(TokenGroups);
    const int goesOn = GoesOnAfterInstallation(groups != NULL ? (const TokenGroup *)groups->Groups : NULL,
                                               groups != NULL ? groups->GroupCount : 0,
                                               stationSid, stationSize, stationError);
    free(groups);
    return goesOn;
}

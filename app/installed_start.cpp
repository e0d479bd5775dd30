// A start by the installation: the package starts the program it installed
// with the installed switch, as whoever ran the installer. That account's
// logon session is set against the window station's.
#include <windows.h>

#include <stddef.h>
#include <stdlib.h>

#include "session.h"
#include "tray.h"
#include "../core/system_library.h"

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

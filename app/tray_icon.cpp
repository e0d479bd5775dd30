#include "tray_icon.h"

static int Stalled(unsigned callStarted, unsigned now)
{
    // Read by another thread, the mark may be a tick newer than now: that
    // call began a moment ago, it is not 49 days old.
    const unsigned outstanding = now - callStarted;
    return callStarted != 0 && outstanding >= STALLED_CALL_MS && outstanding < 0x80000000u;
}

int ChooseTrayIcon(int firewallOn, int servicesUp, unsigned monitorCall, unsigned commandCall, unsigned now)
{
    return firewallOn != 0 && servicesUp != 0 && !Stalled(monitorCall, now) && !Stalled(commandCall, now)
               ? IDI_TRAY_ON
               : IDI_TRAY_OFF;
}

TrayCall FirstTrayCall(int iconAdded)
{
    return iconAdded ? TRAY_MODIFY : TRAY_ADD;
}

#include "tray_icon.h"

int ChooseTrayIcon(int firewallOn, int servicesUp)
{
    return firewallOn != 0 && servicesUp != 0 ? IDI_TRAY_ON : IDI_TRAY_OFF;
}

TrayCall FirstTrayCall(int iconAdded)
{
    return iconAdded ? TRAY_MODIFY : TRAY_ADD;
}

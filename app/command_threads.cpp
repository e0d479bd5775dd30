// Start, Stop and Check for Updates wait on the firewall or the network, so
// each runs on a thread of its own, started when it is chosen and ended
// when it is done: the window's thread goes on refreshing the icon, opens
// the menu and ends the program at any time. One of each kind at a time
// for the user: choosing Start or Stop while one is under way, or Check for
// Updates while a check is, does nothing. A command is under way until its
// last box is dismissed; what its thread still releases after that does
// not hold the next one back. At rest only the monitor runs beside the
// window (a thread that has ended leaves its stack mapped under Wine, so
// none is kept waiting for work either).
#include <windows.h>

#include <atomic>

#include "tray.h"
#include "../core/system_library.h"
#include "../update/update.h"
#include "../watch/later_firewall.h"
#include "../watch/profile.h"

static std::atomic<LONG> SwitchUnderWay(0);

static unsigned __stdcall SwitchFirewallThread(void *wanted)
{
    // The multithreaded apartment, the one the monitor made the profile in:
    // COM lets any of its threads call what was made there, whichever
    // threading model the firewall's class registers (the object itself, or
    // a proxy COM made for it). This thread, which shows at most its notice,
    // has no messages to pump for COM.
    const HRESULT apartment = CoInitializeEx(NULL, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    const int later = FirewallPathTaken.load() == PATH_LATER;
    INetFwProfile *profile = SUCCEEDED(apartment) && !later ? BorrowSharedProfile() : NULL;
    if (SUCCEEDED(apartment) && later)
        SwitchLaterFirewallCommand(wanted != NULL);
    else if (profile != NULL && wanted != NULL)
        EnableFirewall(profile);
    else if (profile != NULL)
        DisableFirewall(profile);
    else
        // No apartment, or no profile yet (the monitor still waits for the
        // firewall at logon): the switch cannot be made.
        ShowSwitchNotice(wanted != NULL);
    SwitchUnderWay.store(0);
    if (profile != NULL)
        profile->Release();
    if (SUCCEEDED(apartment))
        CoUninitialize();
    return 0;
}

static unsigned __stdcall CheckForUpdatesThread(void *unused)
{
    (void)unused;
    // Handed over: the installer replaces this program's files, so the
    // program ends now, through its window as Exit does, which takes the
    // icon away first (a shell keeps the icon of a program that ended
    // without it until the mouse passes over, and after the update the user
    // would see two). No other check starts meanwhile.
    if (CheckForUpdates())
        PostMessageA(TrayWindow, WM_CLOSE, 0, 0);
    return 0;
}

void StartFirewallSwitch(int wanted)
{
    if (SwitchUnderWay.exchange(1) != 0)
        return;
    if (!StartDetachedThread(SwitchFirewallThread, wanted ? (void *)1 : NULL))
        SwitchUnderWay.store(0);
}

void StartUpdateCheck(void)
{
    if (TakeUpdateCheck() && !StartDetachedThread(CheckForUpdatesThread, NULL))
        GiveBackUpdateCheck();
}

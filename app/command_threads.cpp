// Start, Stop and Check for Updates wait on the firewall or the network, so
// each runs on a thread of its own, started when it is chosen and ended
// when it is done: the window's thread goes on refreshing the icon, opens
// the menu and ends the program at any time. One of each kind at a time:
// choosing Start or Stop while one is under way, or Check for Updates while
// a check is, does nothing. At rest only the monitor runs beside the
// window (a thread that has ended leaves its stack mapped under Wine, so
// none is kept waiting for work either).
#include <windows.h>

#include <atomic>

#include "tray.h"
#include "../update/update.h"
#include "../watch/later_firewall.h"
#include "../watch/profile.h"

static std::atomic<LONG> SwitchUnderWay(0);
static std::atomic<LONG> CheckUnderWay(0);

static void StartCommandThread(std::atomic<LONG> *underWay, LPTHREAD_START_ROUTINE work, LPVOID parameter)
{
    if (underWay->exchange(1) != 0)
        return;
    // Nothing waits for it: it ends by itself.
    HANDLE thread = CreateThread(NULL, 0, work, parameter, 0, NULL);
    if (thread == NULL)
        underWay->store(0);
    else
        CloseHandle(thread);
}

static DWORD WINAPI SwitchFirewallThread(LPVOID wanted)
{
    // The multithreaded apartment, as the monitor that made the profile: it
    // is called from here directly, and this thread, which shows at most
    // its notice, has no messages to pump for COM.
    const HRESULT apartment = CoInitializeEx(NULL, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    if (SUCCEEDED(apartment) && FirewallPathTaken.load() == PATH_LATER) {
        SwitchLaterFirewallCommand(wanted != NULL);
        CoUninitialize();
    } else if (SUCCEEDED(apartment)) {
        INetFwProfile *profile = BorrowSharedProfile();
        if (profile != NULL) {
            if (wanted != NULL)
                EnableFirewall(profile);
            else
                DisableFirewall(profile);
            profile->Release();
        }
        CoUninitialize();
    }
    SwitchUnderWay.store(0);
    return 0;
}

static DWORD WINAPI CheckForUpdatesThread(LPVOID unused)
{
    (void)unused;
    // Handed over: the installer replaces this program's files, so the
    // program ends now, through its window as Exit does, which takes the
    // icon away first (a shell keeps the icon of a program that ended
    // without it until the mouse passes over, and after the update the user
    // would see two). No other check starts meanwhile.
    if (CheckForUpdates())
        PostMessageA(TrayWindow, WM_CLOSE, 0, 0);
    else
        CheckUnderWay.store(0);
    return 0;
}

void StartFirewallSwitch(int wanted)
{
    StartCommandThread(&SwitchUnderWay, SwitchFirewallThread, wanted ? (LPVOID)1 : NULL);
}

void StartUpdateCheck(void)
{
    StartCommandThread(&CheckUnderWay, CheckForUpdatesThread, NULL);
}

#include "monitor.h"

#include "profile.h"
#include "status.h"
#include "transitions.h"
#include "warning.h"

static const char ServicesWarningText[] =
    "Warning, critical firewall services have been stopped!\n\n"
    "Please restart the SharedAccess service and IpNat Service or\n"
    "contact your System Administrator immediately.";

static int QueryServiceState(SC_HANDLE service, DWORD *state)
{
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    ZeroMemory(&status, sizeof status);
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof status,
                              &needed))
        return 0;
    *state = status.dwCurrentState;
    return 1;
}

int WatchServices(SC_HANDLE sharedAccess, SC_HANDLE ipNat)
{
    DWORD sharedAccessState = 0;
    DWORD ipNatState = 0;
    BeginCall(&MonitorCallStarted);
    const int answered = QueryServiceState(sharedAccess, &sharedAccessState) && QueryServiceState(ipNat, &ipNatState);
    EndCall(&MonitorCallStarted);
    if (!answered) {
        StatusFlags.servicesUp.store(0);
        return 1;
    }

    int bothRunning = sharedAccessState == SERVICE_RUNNING && ipNatState == SERVICE_RUNNING;
    WatchDecision decision = DecideServicesWatch(StatusFlags.servicesUp.load(), bothRunning);
    ApplyWatchDecision(&StatusFlags.servicesUp, decision, ServicesWarningText, "Firewall Warning");
    return 0;
}

unsigned __stdcall MonitorThreadMain(void *parameter)
{
    (void)parameter;
    FirewallHold firewall = {NULL, NULL, NET_FW_PROFILE_DOMAIN};
    SC_HANDLE manager = NULL;
    SC_HANDLE sharedAccess = NULL;
    SC_HANDLE ipNat = NULL;

    // The multithreaded apartment: this thread only sleeps between cycles,
    // and a single-threaded apartment that pumps no messages hangs whoever
    // broadcasts to every top-level window (COM gives each such thread a
    // hidden one). Start and Stop enter the same apartment on their own
    // thread, so COM lets them call the profile made here, whatever
    // threading model the firewall's class registers. DISABLE_OLE1DDE all
    // the same: no DDE window for this thread either. A thread already in
    // another apartment (RPC_E_CHANGED_MODE) would make the objects there,
    // where the commands could not call them unmarshalled: a failure too.
    HRESULT apartment = CoInitializeEx(NULL, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    if (FAILED(apartment))
        goto cleanup;
    if (FAILED(AcquireProfile(&firewall)))
        goto cleanup;
    manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        goto cleanup;
    sharedAccess = OpenServiceA(manager, "SharedAccess", SERVICE_QUERY_STATUS);
    if (sharedAccess == NULL)
        goto cleanup;
    ipNat = OpenServiceA(manager, "IpNat", SERVICE_QUERY_STATUS);
    if (ipNat == NULL)
        goto cleanup;

    // The firewall's objects and the three handles live as long as the
    // process; the profile is the one in force at each cycle.
    for (;;) {
        FollowProfileInForce(&firewall);
        WatchFirewallState(firewall.profile);
        WatchServices(sharedAccess, ipNat);
        SleepEx(MONITOR_CYCLE_MS, FALSE);
    }

cleanup:
    // Reached only when start-up failed; the firewall and services are then
    // never watched and the icon stays red.
    if (sharedAccess != NULL)
        CloseServiceHandle(sharedAccess);
    if (manager != NULL)
        CloseServiceHandle(manager);
    if (firewall.profile != NULL)
        ReleaseFirewall(&firewall);
    // Only an apartment this thread entered is left.
    if (SUCCEEDED(apartment))
        CoUninitialize();
    return 0;
}

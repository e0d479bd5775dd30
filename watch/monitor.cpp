#include "monitor.h"

#include "later_firewall.h"
#include "profile.h"
#include "status.h"
#include "transitions.h"
#include "warning.h"

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

int WatchServices(SC_HANDLE firewallService, SC_HANDLE helperService, const char *warning)
{
    DWORD firewallState = 0;
    DWORD helperState = 0;
    BeginCall(&MonitorCallStarted);
    const int answered =
        QueryServiceState(firewallService, &firewallState) && QueryServiceState(helperService, &helperState);
    EndCall(&MonitorCallStarted);
    if (!answered) {
        StatusFlags.servicesUp.store(0);
        return 1;
    }

    int bothRunning = firewallState == SERVICE_RUNNING && helperState == SERVICE_RUNNING;
    WatchDecision decision = DecideServicesWatch(StatusFlags.servicesUp.load(), bothRunning);
    ApplyWatchDecision(&StatusFlags.servicesUp, decision, warning, "Firewall Warning");
    return 0;
}

unsigned __stdcall MonitorThreadMain(void *parameter)
{
    (void)parameter;
    FirewallHold firewall = {NULL, NULL, NET_FW_PROFILE_DOMAIN};
    INetFwPolicy2 *policy = NULL;
    const FirewallPath *path = NULL;
    int later = 0;
    SC_HANDLE manager = NULL;
    SC_HANDLE firewallService = NULL;
    SC_HANDLE helperService = NULL;

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
    {
        // Which Windows, by what it has: the later firewall's policy class,
        // never the version number, which Windows 8.1 and later report as
        // 6.2 to a program without a manifest, and a compatibility mode as
        // whatever it is set to. Decided once; its first creation is the
        // first attempt to acquire it.
        const HRESULT created = CreateFirewallPolicy(&policy);
        const int taken = PathForPolicyCreation(created);
        FirewallPathTaken.store(taken);
        path = FirewallPathOf(taken);
        later = taken == PATH_LATER;
        if (later)
            AcquirePolicy(&policy, created);
        else if (FAILED(AcquireProfile(&firewall)))
            goto cleanup;
    }
    manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        goto cleanup;
    firewallService = OpenServiceA(manager, path->firewallService, SERVICE_QUERY_STATUS);
    if (firewallService == NULL)
        goto cleanup;
    helperService = OpenServiceA(manager, path->helperService, SERVICE_QUERY_STATUS);
    if (helperService == NULL)
        goto cleanup;

    // The firewall's objects and the three handles live as long as the
    // process; the profiles are those in force at each cycle.
    for (;;) {
        if (later) {
            WatchLaterFirewall(policy);
        } else {
            FollowProfileInForce(&firewall);
            WatchFirewallState(firewall.profile);
        }
        WatchServices(firewallService, helperService, path->servicesWarning);
        SleepEx(MONITOR_CYCLE_MS, FALSE);
    }

cleanup:
    // Reached only when start-up failed; the firewall and services are then
    // never watched and the icon stays red.
    if (firewallService != NULL)
        CloseServiceHandle(firewallService);
    if (manager != NULL)
        CloseServiceHandle(manager);
    if (firewall.profile != NULL)
        ReleaseFirewall(&firewall);
    if (policy != NULL)
        ReleasePolicy(policy);
    // Only an apartment this thread entered is left.
    if (SUCCEEDED(apartment))
        CoUninitialize();
    return 0;
}

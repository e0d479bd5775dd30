#include "later_firewall.h"

#include "profile.h"
#include "status.h"

// HNetCfg.FwPolicy2 and INetFwPolicy2, spelled out as the manager's are.
static const CLSID FirewallPolicyClass = {
    0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
static const IID FirewallPolicyInterface = {
    0x98325047, 0xc671, 0x4174, {0x8d, 0x81, 0xde, 0xfc, 0xd3, 0xf0, 0x31, 0x86}};

std::atomic<LONG> FirewallPathTaken(PATH_UNDECIDED);
static std::atomic<INetFwPolicy2 *> SharedPolicy(nullptr);

HRESULT CreateFirewallPolicy(INetFwPolicy2 **policy)
{
    *policy = NULL;
    return CoCreateInstance(FirewallPolicyClass, NULL, CLSCTX_INPROC_SERVER, FirewallPolicyInterface,
                            (void **)policy);
}

void AcquirePolicy(INetFwPolicy2 **policy, HRESULT created)
{
    while (FAILED(created)) {
        Sleep(ACQUIRE_RETRY_MS);
        created = CreateFirewallPolicy(policy);
    }
    SharedPolicy.store(*policy);
}

// The profiles in force and those of them enabled, as bitmasks; each call
// marked, so that one that does not return is a stalled check.
static HRESULT ReadProfilesInForce(INetFwPolicy2 *policy, LONG *inForce, LONG *enabled,
                                   std::atomic<DWORD> *mark)
{
    *inForce = 0;
    *enabled = 0;
    BeginCall(mark);
    HRESULT result = policy->get_CurrentProfileTypes(inForce);
    EndCall(mark);
    for (LONG type = PROFILE2_DOMAIN; SUCCEEDED(result) && type <= PROFILE2_PUBLIC; type <<= 1) {
        VARIANT_BOOL on = VARIANT_FALSE;
        if ((*inForce & type) == 0)
            continue;
        BeginCall(mark);
        result = policy->get_FirewallEnabled((NET_FW_PROFILE_TYPE2)type, &on);
        EndCall(mark);
        if (SUCCEEDED(result) && on != VARIANT_FALSE)
            *enabled |= type;
    }
    return result;
}

// The profiles in force are read anew each cycle: a profile coming into
// force with its firewall off turns the reading off, a fall like any other.
void WatchLaterFirewall(INetFwPolicy2 *policy)
{
    LONG inForce = 0;
    LONG enabled = 0;
    // A failed read, or none in force, is no reading: red, never a warning.
    if (FAILED(ReadProfilesInForce(policy, &inForce, &enabled, &MonitorCallStarted)) ||
        (inForce & PROFILE2_EACH) == 0) {
        StatusFlags.firewallOn.store(0);
        return;
    }
    ApplyFirewallReading(EveryProfileInForceOn(inForce, enabled));
}

HRESULT SwitchProfilesInForce(INetFwPolicy2 *policy, int wanted, std::atomic<DWORD> *mark, int *putTried)
{
    LONG inForce = 0;
    LONG enabled = 0;
    *putTried = 0;
    HRESULT result = ReadProfilesInForce(policy, &inForce, &enabled, mark);
    for (LONG type = PROFILE2_DOMAIN; SUCCEEDED(result) && type <= PROFILE2_PUBLIC; type <<= 1) {
        if ((inForce & type) == 0 || ((enabled & type) != 0) == (wanted != 0))
            continue;
        *putTried = 1;
        BeginCall(mark);
        result = policy->put_FirewallEnabled((NET_FW_PROFILE_TYPE2)type, wanted ? VARIANT_TRUE : VARIANT_FALSE);
        EndCall(mark);
    }
    return result;
}

HRESULT SwitchLaterFirewall(int wanted)
{
    LockSharedProfile();
    INetFwPolicy2 *policy = SharedPolicy.load();
    if (policy != NULL)
        policy->AddRef();
    UnlockSharedProfile();
    // None yet: the monitor still waits for the firewall at logon.
    if (policy == NULL) {
        ShowSwitchNotice(wanted);
        return S_FALSE;
    }
    int putTried = 0;
    HRESULT result = SwitchProfilesInForce(policy, wanted, &CommandCallStarted, &putTried);
    policy->Release();
    if (putTried && FAILED(result) && result != E_ACCESSDENIED)
        ShowSwitchNotice(wanted);
    return putTried ? result : S_OK;
}

void ReleasePolicy(INetFwPolicy2 *policy)
{
    LockSharedProfile();
    SharedPolicy.store(nullptr);
    UnlockSharedProfile();
    policy->Release();
}

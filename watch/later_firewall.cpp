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

HRESULT UseProfilesInForce(INetFwPolicy2 *policy, int wanted, std::atomic<DWORD> *mark, LONG *inForce,
                           LONG *enabled, int *putTried)
{
    *inForce = 0;
    *enabled = 0;
    *putTried = 0;
    BeginCall(mark);
    HRESULT result = policy->get_CurrentProfileTypes(inForce);
    for (LONG type = PROFILE2_DOMAIN; SUCCEEDED(result) && type <= PROFILE2_PUBLIC; type <<= 1) {
        VARIANT_BOOL on = VARIANT_FALSE;
        if ((*inForce & type) == 0)
            continue;
        result = policy->get_FirewallEnabled((NET_FW_PROFILE_TYPE2)type, &on);
        if (FAILED(result))
            break;
        if (on != VARIANT_FALSE)
            *enabled |= type;
        if (wanted != READ_ONLY && (on != VARIANT_FALSE) != (wanted != 0)) {
            *putTried = 1;
            result = policy->put_FirewallEnabled((NET_FW_PROFILE_TYPE2)type, wanted ? VARIANT_TRUE : VARIANT_FALSE);
        }
    }
    EndCall(mark);
    return result;
}

// The profiles in force are read anew each cycle: a profile coming into
// force with its firewall off turns the reading off, a fall like any other.
void WatchLaterFirewall(INetFwPolicy2 *policy)
{
    LONG inForce;
    LONG enabled;
    int putTried;
    // A failed read, or none in force, is no reading: red, never a warning.
    if (FAILED(UseProfilesInForce(policy, READ_ONLY, &MonitorCallStarted, &inForce, &enabled, &putTried)) ||
        (inForce & PROFILE2_EACH) == 0) {
        StatusFlags.firewallOn.store(0);
        return;
    }
    ApplyFirewallReading(EveryProfileInForceOn(inForce, enabled));
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
    LONG inForce;
    LONG enabled;
    int putTried;
    HRESULT result = UseProfilesInForce(policy, wanted, &CommandCallStarted, &inForce, &enabled, &putTried);
    policy->Release();
    if (putTried && FAILED(result) && result != E_ACCESSDENIED)
        ShowSwitchNotice(wanted);
    return result;
}

void ReleasePolicy(INetFwPolicy2 *policy)
{
    LockSharedProfile();
    SharedPolicy.store(nullptr);
    UnlockSharedProfile();
    policy->Release();
}

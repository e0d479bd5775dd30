#include "profile.h"

#include "status.h"
#include "transitions.h"
#include "warning.h"

// Defined here rather than through <initguid.h>, which would put every
// identifier of the firewall header into the program.
static const CLSID FirewallManagerClass = {
    0x304ce942, 0x6e39, 0x40d8, {0x94, 0x3a, 0xb9, 0x13, 0xc4, 0x0c, 0x9c, 0xd4}};
static const IID FirewallManagerInterface = {
    0xf7898af5, 0xcac4, 0x4632, {0xa2, 0xec, 0xda, 0x06, 0xe5, 0x11, 0x1a, 0xf2}};

static HRESULT TryAcquireProfile(INetFwProfile **profile)
{
    INetFwMgr *manager = NULL;
    INetFwPolicy *policy = NULL;

    HRESULT result = CoCreateInstance(FirewallManagerClass, NULL, CLSCTX_INPROC_SERVER, FirewallManagerInterface,
                                      (void **)&manager);
    if (SUCCEEDED(result))
        result = manager->get_LocalPolicy(&policy);
    if (SUCCEEDED(result))
        result = policy->get_CurrentProfile(profile);
    // A success without an object would only crash later.
    if (SUCCEEDED(result) && *profile == NULL)
        result = E_POINTER;
    if (SUCCEEDED(result))
        SharedProfile.store(*profile);
    else
        *profile = NULL;

    if (policy != NULL)
        policy->Release();
    if (manager != NULL)
        manager->Release();
    return result;
}

HRESULT AcquireProfile(INetFwProfile **profile)
{
    for (;;) {
        *profile = NULL;
        HRESULT result = TryAcquireProfile(profile);
        if (SUCCEEDED(result))
            return result;
        Sleep(ACQUIRE_RETRY_MS);
    }
}

HRESULT ReadFirewallEnabled(INetFwProfile *profile, int *enabled)
{
    VARIANT_BOOL value = VARIANT_FALSE;
    HRESULT result = profile->get_FirewallEnabled(&value);
    if (FAILED(result)) {
        StatusFlags.firewallOn.store(0);
        *enabled = 0;
        return result;
    }
    *enabled = value != VARIANT_FALSE;
    return result;
}

static HRESULT SwitchFirewall(INetFwProfile *profile, int wanted, const char *refusal)
{
    int enabled = 0;
    HRESULT result = ReadFirewallEnabled(profile, &enabled);
    if (FAILED(result) || enabled == wanted)
        return result;

    result = profile->put_FirewallEnabled(wanted ? VARIANT_TRUE : VARIANT_FALSE);
    if (FAILED(result))
        MessageBoxA(NULL, refusal, "Firewall Notice", MB_OK);
    return result;
}

HRESULT EnableFirewall(INetFwProfile *profile)
{
    return SwitchFirewall(profile, 1, "Unable to start firewall");
}

HRESULT DisableFirewall(INetFwProfile *profile)
{
    return SwitchFirewall(profile, 0, "Unable to stop firewall");
}

HRESULT WatchFirewallState(INetFwProfile *profile)
{
    int enabled = 0;
    HRESULT result = ReadFirewallEnabled(profile, &enabled);
    if (FAILED(result))
        return result;

    WatchDecision decision = DecideFirewallWatch(StatusFlags.firewallOn.load(), enabled);
    ApplyWatchDecision(&StatusFlags.firewallOn, decision, "Windows Firewall has been Disabled\n",
                       "Firewall Warning!");
    return result;
}

void ReleaseSharedProfile(INetFwProfile *profile)
{
    LockSharedProfile();
    SharedProfile.store(nullptr);
    profile->Release();
    UnlockSharedProfile();
}

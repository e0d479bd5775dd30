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

// The profile in force and its type, through the manager.
static HRESULT ProfileInForce(INetFwMgr *manager, INetFwProfile **profile, NET_FW_PROFILE_TYPE *type)
{
    INetFwPolicy *policy = NULL;
    *profile = NULL;
    HRESULT result = manager->get_LocalPolicy(&policy);
    if (SUCCEEDED(result))
        result = policy->get_CurrentProfile(profile);
    // A success without an object would only crash later.
    if (SUCCEEDED(result) && *profile == NULL)
        result = E_POINTER;
    if (SUCCEEDED(result))
        result = (*profile)->get_Type(type);
    if (FAILED(result) && *profile != NULL) {
        (*profile)->Release();
        *profile = NULL;
    }
    if (policy != NULL)
        policy->Release();
    return result;
}

HRESULT AcquireProfile(FirewallHold *hold)
{
    for (;;) {
        hold->manager = NULL;
        HRESULT result = CoCreateInstance(FirewallManagerClass, NULL, CLSCTX_INPROC_SERVER, FirewallManagerInterface,
                                          (void **)&hold->manager);
        if (SUCCEEDED(result))
            result = ProfileInForce(hold->manager, &hold->profile, &hold->type);
        if (SUCCEEDED(result)) {
            SharedProfile.store(hold->profile);
            return result;
        }
        if (hold->manager != NULL)
            hold->manager->Release();
        Sleep(ACQUIRE_RETRY_MS);
    }
}

// Start and Stop borrow the published profile under the lock, so the held
// one goes only once neither is using it.
static void PublishProfile(INetFwProfile *profile)
{
    LockSharedProfile();
    INetFwProfile *published = SharedProfile.exchange(profile);
    if (published != NULL)
        published->Release();
    UnlockSharedProfile();
}

void FollowProfileInForce(FirewallHold *hold)
{
    NET_FW_PROFILE_TYPE inForce = hold->type;
    NET_FW_PROFILE_TYPE type = hold->type;
    INetFwProfile *profile = NULL;
    BeginMonitorCall();
    if (SUCCEEDED(hold->manager->get_CurrentProfileType(&inForce)) && inForce != hold->type &&
        SUCCEEDED(ProfileInForce(hold->manager, &profile, &type))) {
        hold->profile = profile;
        hold->type = type;
    }
    EndMonitorCall();
    if (profile != NULL)
        PublishProfile(profile);
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
    BeginMonitorCall();
    HRESULT result = ReadFirewallEnabled(profile, &enabled);
    EndMonitorCall();
    if (FAILED(result))
        return result;

    WatchDecision decision = DecideFirewallWatch(StatusFlags.firewallOn.load(), enabled);
    ApplyWatchDecision(&StatusFlags.firewallOn, decision, "Windows Firewall has been Disabled\n",
                       "Firewall Warning!");
    return result;
}

void ReleaseFirewall(FirewallHold *hold)
{
    hold->manager->Release();
    // The held profile is the published one.
    PublishProfile(NULL);
}

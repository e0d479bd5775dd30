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

// The lock is held for the swap alone: a Start or Stop has a reference of
// its own, so the one published before can go at once, outside the lock.
static void PublishProfile(INetFwProfile *profile)
{
    LockSharedProfile();
    INetFwProfile *published = SharedProfile.exchange(profile);
    UnlockSharedProfile();
    if (published != NULL)
        published->Release();
}

void FollowProfileInForce(FirewallHold *hold)
{
    NET_FW_PROFILE_TYPE inForce = hold->type;
    NET_FW_PROFILE_TYPE type = hold->type;
    INetFwProfile *profile = NULL;
    // The wait on the profile lock is marked as a call: a lock held too
    // long is a check that does not return.
    BeginCall(&MonitorCallStarted);
    if (SUCCEEDED(hold->manager->get_CurrentProfileType(&inForce)) && inForce != hold->type &&
        SUCCEEDED(ProfileInForce(hold->manager, &profile, &type))) {
        hold->profile = profile;
        hold->type = type;
        PublishProfile(profile);
    }
    EndCall(&MonitorCallStarted);
}

INetFwProfile *BorrowSharedProfile(void)
{
    LockSharedProfile();
    INetFwProfile *profile = SharedProfile.load();
    if (profile != NULL)
        profile->AddRef();
    UnlockSharedProfile();
    return profile;
}

HRESULT ReadFirewallEnabled(INetFwProfile *profile, int *enabled)
{
    VARIANT_BOOL value = VARIANT_FALSE;
    HRESULT result = profile->get_FirewallEnabled(&value);
    *enabled = SUCCEEDED(result) && value != VARIANT_FALSE;
    return result;
}

void ShowSwitchNotice(int wanted)
{
    // From the command's own thread, after a wait on the firewall: without
    // the foreground it would open behind the window in use.
    MessageBoxA(NULL, wanted ? "Unable to start firewall" : "Unable to stop firewall", "Firewall Notice",
                MB_OK | MB_SETFOREGROUND);
}

// Marked while it waits on the firewall, so that a Start or Stop that does
// not return turns the icon red as a stalled check; its notice comes after.
// What it reads is its own: the firewall flag is the monitor's alone, so
// that a read failing here cannot hide a fall from it.
static HRESULT SwitchFirewall(INetFwProfile *profile, int wanted)
{
    int enabled = 0;
    BeginCall(&CommandCallStarted);
    HRESULT result = ReadFirewallEnabled(profile, &enabled);
    const int switching = SUCCEEDED(result) && enabled != wanted;
    if (switching)
        result = profile->put_FirewallEnabled(wanted ? VARIANT_TRUE : VARIANT_FALSE);
    EndCall(&CommandCallStarted);
    if (switching && FAILED(result))
        ShowSwitchNotice(wanted);
    return result;
}

HRESULT EnableFirewall(INetFwProfile *profile)
{
    return SwitchFirewall(profile, 1);
}

HRESULT DisableFirewall(INetFwProfile *profile)
{
    return SwitchFirewall(profile, 0);
}

void ApplyFirewallReading(int enabled)
{
    WatchDecision decision = DecideFirewallWatch(StatusFlags.firewallOn.load(), enabled);
    ApplyWatchDecision(&StatusFlags.firewallOn, decision, "Windows Firewall has been Disabled\n",
                       "Firewall Warning!");
}

HRESULT WatchFirewallState(INetFwProfile *profile)
{
    int enabled = 0;
    BeginCall(&MonitorCallStarted);
    HRESULT result = ReadFirewallEnabled(profile, &enabled);
    EndCall(&MonitorCallStarted);
    if (FAILED(result)) {
        StatusFlags.firewallOn.store(0);
        return result;
    }

    ApplyFirewallReading(enabled);
    return result;
}

void ReleaseFirewall(FirewallHold *hold)
{
    hold->manager->Release();
    // The held profile is the published one.
    PublishProfile(NULL);
}

// Access to the firewall through its COM interface.
#ifndef HALVOTREN_WATCH_PROFILE_H
#define HALVOTREN_WATCH_PROFILE_H

#include <windows.h>
#include <netfw.h>

#define ACQUIRE_RETRY_MS 5000

// What the monitor holds of the firewall for its life: the manager, which
// names the profile type in force at any moment, and the profile it
// watches, with that profile's type as read when it was acquired. (The
// manager is kept, unlike the other objects a step passes through, to be
// asked that every cycle.)
struct FirewallHold {
    INetFwMgr *manager;
    INetFwProfile *profile;
    NET_FW_PROFILE_TYPE type;
};

// Waits until the firewall's manager and the profile in force can be had,
// publishes the profile as SharedProfile and holds the same single
// reference.
HRESULT AcquireProfile(FirewallHold *hold);

// Once a cycle: when the profile type in force is not the held profile's
// (a laptop left or joined its domain's network), acquires the profile in
// force, publishes it and releases the held one (a command using it holds
// its own reference). A failure keeps the held profile until the next
// cycle.
void FollowProfileInForce(FirewallHold *hold);

// For a Start or Stop: the profile in force with a reference of the
// caller's own, taken under the profile lock, or NULL when there is none.
// The caller releases it, from the multithreaded apartment as the monitor.
INetFwProfile *BorrowSharedProfile(void);

// A failed read reports the firewall as off.
HRESULT ReadFirewallEnabled(INetFwProfile *profile, int *enabled);

// Start and Stop: each switches when the firewall is not as wanted, and
// shows its notice when the switch is refused.
HRESULT EnableFirewall(INetFwProfile *profile);
HRESULT DisableFirewall(INetFwProfile *profile);
// The "Unable to start firewall" or "Unable to stop firewall" notice.
void ShowSwitchNotice(int wanted);

// One firewall sample of the monitor's cycle, the only writer of
// firewallOn (a failed read clears it); may block in the warning box.
HRESULT WatchFirewallState(INetFwProfile *profile);

// What a finished reading does, on either firewall: stores firewallOn, or
// warns of a fall first.
void ApplyFirewallReading(int enabled);

// The monitor's clean-up: drops the manager, unpublishes the profile and
// drops its reference; a command still using it holds its own.
void ReleaseFirewall(FirewallHold *hold);

#endif

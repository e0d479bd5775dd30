// Access to the firewall through its COM interface.
#ifndef HALVOTREN_WATCH_PROFILE_H
#define HALVOTREN_WATCH_PROFILE_H

#include <windows.h>
#include <netfw.h>

#define ACQUIRE_RETRY_MS 5000

// Waits until the firewall's current profile can be had, publishes it as
// SharedProfile and hands the same single reference back.
HRESULT AcquireProfile(INetFwProfile **profile);

// A failed read clears firewallOn and reports the firewall as off.
HRESULT ReadFirewallEnabled(INetFwProfile *profile, int *enabled);

HRESULT EnableFirewall(INetFwProfile *profile);
HRESULT DisableFirewall(INetFwProfile *profile);

// One firewall sample of the monitor's cycle; may block in the warning box.
HRESULT WatchFirewallState(INetFwProfile *profile);

// The monitor's clean-up: unpublishes the profile and drops its reference,
// waiting for a command that is still using it.
void ReleaseSharedProfile(INetFwProfile *profile);

#endif

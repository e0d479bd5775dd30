// The firewall of Windows Vista and later, through its policy object
// (INetFwPolicy2): several profiles may be in force at once.
#ifndef HALVOTREN_WATCH_LATER_FIREWALL_H
#define HALVOTREN_WATCH_LATER_FIREWALL_H

#include <windows.h>
#include <netfw.h>

#include <atomic>

#include "firewall_path.h"

// Which firewall the monitor found at start (PATH_XP or PATH_LATER), or
// PATH_UNDECIDED until it has looked.
extern std::atomic<LONG> FirewallPathTaken;

// Creates the policy object; the result decides the path.
HRESULT CreateFirewallPolicy(INetFwPolicy2 **policy);

// From a first creation's result: waits until the policy object can be
// had, as the XP profile is waited for, and publishes it for Start and
// Stop, which borrow it under the profile lock.
void AcquirePolicy(INetFwPolicy2 **policy, HRESULT created);

// One firewall sample of the monitor's cycle; may block in the warning box.
void WatchLaterFirewall(INetFwPolicy2 *policy);

// Reads the profiles in force and those of them enabled (bitmasks) and,
// unless wanted is READ_ONLY, switches each that is not as wanted (1 on, 0
// off); *putTried tells a refused switch from a failed read. One mark on
// mark for it all, as XP's change of profile has: a reading or switch that
// does not end within 10 s is a stalled check.
#define READ_ONLY (-1)
HRESULT UseProfilesInForce(INetFwPolicy2 *policy, int wanted, std::atomic<DWORD> *mark, LONG *inForce,
                           LONG *enabled, int *putTried);

// A Start's or Stop's switch through the published policy. Its notice
// when there is none yet or Windows refuses the switch, unless for want of
// rights (E_ACCESSDENIED, for a read as for a switch), which the caller
// answers by asking the user's consent.
HRESULT SwitchLaterFirewall(int wanted);

// The monitor's clean-up: unpublishes the policy and drops its reference.
void ReleasePolicy(INetFwPolicy2 *policy);

#endif

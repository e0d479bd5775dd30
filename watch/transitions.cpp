#include "transitions.h"

WatchDecision DecideFirewallWatch(int firewallOn, int enabled)
{
    if (enabled)
        return WatchDecision{1, 0, 1};
    if (firewallOn)
        return WatchDecision{FLAG_KEPT, 1, 0};
    return WatchDecision{0, 0, 0};
}

WatchDecision DecideServicesWatch(int servicesUp, int bothRunning)
{
    if (bothRunning)
        return WatchDecision{1, 0, 1};
    if (servicesUp)
        return WatchDecision{0, 1, 0};
    return WatchDecision{0, 0, 0};
}

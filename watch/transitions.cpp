#include "transitions.h"

// Filled field by field: returning braced temporaries makes the compiler
// keep their values as writable data, a section of the program's own.
WatchDecision DecideFirewallWatch(int firewallOn, int enabled)
{
    WatchDecision decision = {0, 0, 0};
    if (enabled) {
        decision.flagBeforeWarning = 1;
        decision.flagAfterWarning = 1;
    } else if (firewallOn) {
        decision.flagBeforeWarning = FLAG_KEPT;
        decision.warn = 1;
    }
    return decision;
}

WatchDecision DecideServicesWatch(int servicesUp, int bothRunning)
{
    WatchDecision decision = {0, 0, 0};
    if (bothRunning) {
        decision.flagBeforeWarning = 1;
        decision.flagAfterWarning = 1;
    } else if (servicesUp) {
        decision.warn = 1;
    }
    return decision;
}

// How a fresh observation changes a status flag and whether the user is
// warned. No Windows header: these decisions are tested on any compiler.
#ifndef HALVOTREN_WATCH_TRANSITIONS_H
#define HALVOTREN_WATCH_TRANSITIONS_H

struct WatchDecision {
    int flagBeforeWarning;  // stored at once
    int warn;               // show the warning box
    int flagAfterWarning;   // stored once the box is dismissed (when warn)
};

// The firewall flag stays 1 while its warning is open, so the icon keeps
// its colour until the user has seen the box.
WatchDecision DecideFirewallWatch(int firewallOn, int enabled);

// The services flag drops before its warning opens, so the icon turns red
// while the box is still on screen.
WatchDecision DecideServicesWatch(int servicesUp, int bothRunning);

#endif

// How a fresh observation changes a status flag and whether the user is
// warned. No Windows header: these decisions are tested on any compiler.
#ifndef HALVOTREN_WATCH_TRANSITIONS_H
#define HALVOTREN_WATCH_TRANSITIONS_H

// A flag left as it is: another thread may change it meanwhile, and that
// change must stand.
#define FLAG_KEPT (-1)

struct WatchDecision {
    int flagBeforeWarning;  // stored at once, unless FLAG_KEPT
    int warn;               // show the warning box
    int flagAfterWarning;   // stored once the box is dismissed (when warn)
};

// The firewall flag is not touched while its warning is open, so the icon
// keeps its colour until the user has seen the box, or turns red meanwhile
// when a Start or Stop command fails to read the firewall.
WatchDecision DecideFirewallWatch(int firewallOn, int enabled);

// The services flag drops before its warning opens, so the icon turns red
// while the box is still on screen.
WatchDecision DecideServicesWatch(int servicesUp, int bothRunning);

#endif

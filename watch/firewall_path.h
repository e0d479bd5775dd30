// What differs between the firewall of Windows XP and that of every later
// Windows, and the decisions the later one takes. No Windows header: these
// are tested on any compiler.
#ifndef HALVOTREN_WATCH_FIREWALL_PATH_H
#define HALVOTREN_WATCH_FIREWALL_PATH_H

#define PATH_UNDECIDED 0
#define PATH_XP 1
#define PATH_LATER 2

struct FirewallPath {
    const char *firewallService;
    const char *helperService;
    const char *servicesWarning;
    // Launch command lines; every %s is the Windows directory.
    const char *configureTemplate;
    const char *viewLogTemplate;
    // The log the viewer opens, checked first for reading; NULL on XP,
    // where the viewer is started as it always was.
    const char *logTemplate;
};

// By path: PATH_XP, PATH_LATER.
const FirewallPath *FirewallPathOf(int path);

// The path the program takes, from what creating the later firewall's
// policy class answered (createResult, an HRESULT): XP only when the class
// or its interface is not there at all. A class that is there but failed
// to come up is the later firewall, asked again as the XP one would be.
int PathForPolicyCreation(long createResult);

// The later firewall's profiles (NET_FW_PROFILE_TYPE2): a bitmask.
#define PROFILE2_DOMAIN 1
#define PROFILE2_PRIVATE 2
#define PROFILE2_PUBLIC 4
#define PROFILE2_EACH 7

// The firewall is on only when every profile in force (inForce, the
// bitmask) is among those enabled; no profile in force is no reading.
int EveryProfileInForceOn(long inForce, long enabled);

// A copy of the program started to switch the firewall with consent is
// asked by one exact argument after its own name: "on" or "off".
#define SWITCH_NOT_ASKED (-1)
#define SWITCH_REFUSED (-2)
#define SWITCH_ARGUMENT_ON "on"
#define SWITCH_ARGUMENT_OFF "off"

// What the command line asks of the copy: 1 (on), 0 (off); SWITCH_REFUSED
// when its arguments begin with an o, as on and off do, but are anything
// more or less than that one argument; SWITCH_NOT_ASKED for any other line.
int ConsentedSwitchWanted(const char *commandLine);

// The box View Log shows when the log cannot be opened for reading: it is
// missing, or this user may not read it.
extern const char LogRefusalText[];

#endif

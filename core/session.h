// Whether a program that an installation started belongs on the desktop it
// finds itself on: the program and the package's closing program decide it
// alike. No Windows header: the decision is tested on any compiler.
#ifndef HALVOTREN_CORE_SESSION_H
#define HALVOTREN_CORE_SESSION_H

// The switch with which the package starts the program it installed.
#define INSTALLED_SWITCH "/installed"

// One of the groups of the process's token, as the system lists them: the
// group's SID and its attributes.
struct TokenGroup {
    const void *sid;
    unsigned long attributes;
};

// The attributes that mark the group of the token's logon session.
#define LOGON_SESSION_GROUP 0xC0000000ul

// What the system answers, asked for the window station's SID, when it
// keeps no logon sessions: ERROR_INVALID_PARAMETER.
#define NO_LOGON_SESSIONS 87ul

// 1 when a program started by the installation goes on: its token's logon
// session is the one whose window station it runs in, or the system keeps
// no logon sessions. An installation run as another account ("Run as") has
// a logon session of its own, and a program of that account on the user's
// desktop would hand that account to whatever drives its menu. The station's
// SID is stationSid, stationSize bytes (none when the station has no user),
// unless stationError says why it could not be had; 0 for any other
// failure. groups is NULL only with a count of 0.
int GoesOnAfterInstallation(const TokenGroup *groups, unsigned long count, const void *stationSid,
                            unsigned long stationSize, unsigned long stationError);

// 1 when this process belongs to the logon session of the desktop it runs
// on, as GoesOnAfterInstallation decides it for the process's token.
int InDesktopSession(void);

#endif

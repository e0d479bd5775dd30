// The tray icon's decisions, apart from the shell calls. No Windows header.
#ifndef HALVOTREN_APP_TRAY_ICON_H
#define HALVOTREN_APP_TRAY_ICON_H

#define IDI_MAIN 101
#define IDI_MAIN_ALT 102
#define IDI_TRAY_ON 103
#define IDI_TRAY_OFF 104

// A call into the firewall or the service manager that has not returned
// after this long is a failed check, as one that timed out.
#define STALLED_CALL_MS 10000u

// Green only while the firewall is on and both services run, as a check that
// has finished found them: not once the monitor's call under way, begun at
// monitorCall (a millisecond tick; 0 when none is), or a Start's or Stop's,
// begun at commandCall, has been outstanding STALLED_CALL_MS at now. Ticks
// wrap after 49 days.
int ChooseTrayIcon(int firewallOn, int servicesUp, unsigned monitorCall, unsigned commandCall, unsigned now);

enum TrayCall { TRAY_ADD, TRAY_MODIFY };

// The call to try first: modify once the shell holds the icon, else add.
// When it fails the other one is tried, since the shell may have lost the
// icon (modify fails) or still hold it (add fails).
TrayCall FirstTrayCall(int iconAdded);

#endif

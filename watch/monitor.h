// The background thread that samples the firewall and its services.
#ifndef HALVOTREN_WATCH_MONITOR_H
#define HALVOTREN_WATCH_MONITOR_H

#include <windows.h>

#define MONITOR_CYCLE_MS 2000

unsigned __stdcall MonitorThreadMain(void *parameter);

// 0 when both status queries succeeded, 1 when either failed.
// warning is the path's services warning.
int WatchServices(SC_HANDLE firewallService, SC_HANDLE helperService, const char *warning);

#endif

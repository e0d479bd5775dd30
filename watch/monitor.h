// The background thread that samples the firewall and its services.
#ifndef HALVOTREN_WATCH_MONITOR_H
#define HALVOTREN_WATCH_MONITOR_H

#include <windows.h>

#define MONITOR_CYCLE_MS 2000

unsigned __stdcall MonitorThreadMain(void *parameter);

// 0 when both status queries succeeded, 1 when either failed.
int WatchServices(SC_HANDLE sharedAccess, SC_HANDLE ipNat);

#endif

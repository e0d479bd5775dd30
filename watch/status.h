// What the monitor thread has seen, shared with the user-interface thread.
#ifndef HALVOTREN_WATCH_STATUS_H
#define HALVOTREN_WATCH_STATUS_H

#include <windows.h>
#include <netfw.h>

#include <atomic>

// Both 0 at start. Each field is read and written whole by two threads.
struct StatusFlagsRecord {
    std::atomic<LONG> firewallOn;
    std::atomic<LONG> servicesUp;
};

extern StatusFlagsRecord StatusFlags;

// The firewall profile in force, null until the monitor thread has it. The
// monitor owns its single reference; a command borrows it while holding the
// profile lock, and the monitor's clean-up takes the same lock to clear and
// release it.
extern std::atomic<INetFwProfile *> SharedProfile;

// When the monitor's call into the firewall or the service manager that is
// under way began (GetTickCount, never 0), or 0 between calls: the window's
// thread, which goes on ticking while the monitor is blocked, tells from it
// a check that does not return. A warning box open is no such call.
extern std::atomic<DWORD> MonitorCallStarted;
void BeginMonitorCall(void);
void EndMonitorCall(void);

void InitProfileLock(void);
void LockSharedProfile(void);
void UnlockSharedProfile(void);

#endif

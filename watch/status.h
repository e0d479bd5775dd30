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
// monitor owns its published reference; a Start or Stop takes a reference
// of its own under the profile lock (BorrowSharedProfile), and the monitor
// swaps the published one under the same lock. The lock is held for the
// swap or the borrow alone, never across a call into the firewall or a box.
extern std::atomic<INetFwProfile *> SharedProfile;

// When a call into the firewall or the service manager that is under way
// began (GetTickCount, never 0), or 0 between calls: one mark for the
// monitor's calls (and its waits on the profile lock), one for a Start's or
// Stop's. The window's thread, which waits on neither, tells from them a
// check that does not return. A box open is no such call.
extern std::atomic<DWORD> MonitorCallStarted;
extern std::atomic<DWORD> CommandCallStarted;
void BeginCall(std::atomic<DWORD> *mark);
void EndCall(std::atomic<DWORD> *mark);

void InitProfileLock(void);
void LockSharedProfile(void);
void UnlockSharedProfile(void);

#endif

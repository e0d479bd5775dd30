#include "status.h"

StatusFlagsRecord StatusFlags = {{0}, {0}};
std::atomic<INetFwProfile *> SharedProfile(nullptr);
std::atomic<DWORD> MonitorCallStarted(0);

void BeginMonitorCall(void)
{
    MonitorCallStarted.store(GetTickCount() | 1);
}

void EndMonitorCall(void)
{
    MonitorCallStarted.store(0);
}

static CRITICAL_SECTION ProfileLock;

void InitProfileLock(void)
{
    InitializeCriticalSection(&ProfileLock);
}

void LockSharedProfile(void)
{
    EnterCriticalSection(&ProfileLock);
}

void UnlockSharedProfile(void)
{
    LeaveCriticalSection(&ProfileLock);
}

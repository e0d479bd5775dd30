#include "status.h"

StatusFlagsRecord StatusFlags = {{0}, {0}};
std::atomic<INetFwProfile *> SharedProfile(nullptr);
std::atomic<DWORD> MonitorCallStarted(0);
std::atomic<DWORD> CommandCallStarted(0);

void BeginCall(std::atomic<DWORD> *mark)
{
    mark->store(GetTickCount() | 1);
}

void EndCall(std::atomic<DWORD> *mark)
{
    mark->store(0);
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

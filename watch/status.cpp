#include "status.h"

StatusFlagsRecord StatusFlags = {{0}, {0}};
std::atomic<INetFwProfile *> SharedProfile(nullptr);

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

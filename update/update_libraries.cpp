#include "update_libraries.h"

#include "../core/system_library.h"

// By its full path, as every library the program loads: one put beside the
// program is never taken for it.
constexpr char WininetList[] =
    "wininet.dll\0HttpQueryInfoA\0InternetCloseHandle\0InternetOpenA\0InternetOpenUrlA\0"
    "InternetQueryDataAvailable\0InternetReadFile\0"
    "InternetSetOptionA\0";

static_assert(CountListedFunctions(WininetList, sizeof WininetList) == sizeof(UpdateFunctions) / sizeof(FARPROC),
              "a function is looked up for every member of UpdateFunctions");

UpdateFunctions UpdateCalls;

// Held only around the load and the free, never across a call of the
// check's or a box.
static CRITICAL_SECTION UpdateCallsLock;
static HMODULE Wininet = NULL;
static unsigned Users = 0;

void InitUpdateCallsLock(void)
{
    InitializeCriticalSection(&UpdateCallsLock);
}

int LoadUpdateCalls(void)
{
    EnterCriticalSection(&UpdateCallsLock);
    if (Users == 0)
        Wininet = LoadSystemFunctions(WininetList, &UpdateCalls);
    const int loaded = Wininet != NULL;
    Users += loaded;
    LeaveCriticalSection(&UpdateCallsLock);
    return loaded;
}

void UnloadUpdateCalls(void)
{
    EnterCriticalSection(&UpdateCallsLock);
    if (--Users == 0) {
        FreeLibrary(Wininet);
        Wininet = NULL;
    }
    LeaveCriticalSection(&UpdateCallsLock);
}

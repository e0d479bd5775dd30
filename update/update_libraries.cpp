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

#include "update_libraries.h"

#include <string.h>

#include "version_text.h"

// Each list is the library's file name, then the names of the functions
// taken from it in the order of UpdateFunctions, ended by an empty name.
// One literal a library keeps them together in the program, where the XP
// load check finds them and checks every name against XP's exports.
static constexpr char WininetList[] =
    "wininet.dll\0HttpQueryInfoA\0InternetCloseHandle\0InternetOpenA\0InternetOpenUrlA\0"
    "InternetQueryDataAvailable\0InternetReadFile\0"
    "InternetSetOptionA\0";
static constexpr char MsiList[] = "msi.dll\0MsiVerifyPackageA\0";
static const char *const LibraryLists[UPDATE_LIBRARY_COUNT] = {WininetList, MsiList};

#define UPDATE_FUNCTION_COUNT (sizeof(UpdateFunctions) / sizeof(FARPROC))

// The names a list holds after the library's: one fewer than its ends.
static constexpr size_t CountNames(const char *list, size_t size)
{
    size_t ends = 0;
    for (size_t i = 0; i + 1 < size; ++i)
        ends += list[i] == '\0';
    return ends - 1;
}
static_assert(CountNames(WininetList, sizeof WininetList) + CountNames(MsiList, sizeof MsiList) ==
                  UPDATE_FUNCTION_COUNT,
              "a function is looked up for every member of UpdateFunctions");

UpdateFunctions UpdateCalls;

int SystemFilePath(char *path, UINT size, const char *name)
{
    ZeroMemory(path, size);
    const UINT length = GetSystemDirectoryA(path, size);
    return DirectoryLengthFits(length, size) && AppendText(path, size, "\\") && AppendText(path, size, name);
}

int LoadUpdateLibraries(HMODULE libraries[UPDATE_LIBRARY_COUNT])
{
    FARPROC found[UPDATE_FUNCTION_COUNT];
    FARPROC *slot = found;
    int complete = 1;
    for (int i = 0; i < UPDATE_LIBRARY_COUNT; ++i) {
        char path[MAX_PATH];
        const char *name = LibraryLists[i];
        libraries[i] = SystemFilePath(path, sizeof path, name) ? LoadLibraryA(path) : NULL;
        if (libraries[i] == NULL) {
            complete = 0;
            continue;
        }
        while (*(name += strlen(name) + 1) != '\0')
            if ((*slot++ = GetProcAddress(libraries[i], name)) == NULL)
                complete = 0;
    }
    if (!complete)
        return 0;
    // Every member is a function pointer, of one size and representation.
    memcpy(&UpdateCalls, found, sizeof UpdateCalls);
    return 1;
}

void FreeUpdateLibraries(HMODULE libraries[UPDATE_LIBRARY_COUNT])
{
    for (int i = 0; i < UPDATE_LIBRARY_COUNT; ++i)
        if (libraries[i] != NULL)
            FreeLibrary(libraries[i]);
}

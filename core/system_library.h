// What the program's parts take from the system alike: its libraries, by
// their full path, its processes, and the process's own token.
#ifndef HALVOTREN_CORE_SYSTEM_LIBRARY_H
#define HALVOTREN_CORE_SYSTEM_LIBRARY_H

#include <windows.h>

// Zero-fills path, then writes the system folder, a backslash and name
// into it: 1 when it all fitted.
int SystemFilePath(char *path, UINT size, const char *name);

// Loads the library a list names by its full path in the system folder, and
// looks up the functions named after it into functions, a record of
// function pointers in their order. A list is the library's file name, then
// the functions' names, each ended by a zero, and an empty name; one literal
// a library keeps the names together in the program, where the XP load
// check finds them and checks each against XP's exports. The library, or
// NULL, with nothing left loaded, when it or any of its functions is
// missing.
HMODULE LoadSystemFunctions(const char *list, void *functions);

// The number of functions a list names: one fewer than its ends.
constexpr size_t CountListedFunctions(const char *list, size_t size)
{
    size_t ends = 0;
    for (size_t i = 0; i + 1 < size; ++i)
        ends += list[i] == '\0';
    return ends - 1;
}

// Starts work on a thread of its own that nothing waits for: 1 when it
// started. The C runtime's _beginthreadex, not CreateThread: the program's
// threads use the runtime, which sets itself up for a thread only when it
// starts it.
int StartDetachedThread(unsigned(__stdcall *work)(void *), void *parameter);

// Starts a process with the parent's environment: its handle, which the
// caller closes, or NULL. Its current folder is the parent's, or the system
// folder when asked, so that it holds open no folder that an uninstall
// removes.
HANDLE StartProcess(const char *application, char *commandLine, BOOL inheritHandles, int inSystemFolder);

// What the process's token holds of that kind, in a buffer sized by a first
// call, which the caller frees with free(); NULL when it cannot be had.
void *ProcessTokenInformation(TOKEN_INFORMATION_CLASS kind);

#endif

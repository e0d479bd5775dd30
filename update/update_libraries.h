// The two libraries that only the update check needs. A program that runs
// all day loads them when the user asks for an update and frees them when
// the check ends. Each is loaded by its full path in the system folder:
// msi.dll is not one of the system's known DLLs, so an imported one would
// be looked for first beside the program, where anyone could have put one.
#ifndef HALVOTREN_UPDATE_UPDATE_LIBRARIES_H
#define HALVOTREN_UPDATE_UPDATE_LIBRARIES_H

#include <windows.h>
#include <wininet.h>

#define UPDATE_LIBRARY_COUNT 2

// The functions the check calls, looked up in the libraries by name.
struct UpdateFunctions {
    BOOL(WINAPI *HttpQueryInfoA)(HINTERNET request, DWORD query, LPVOID buffer, LPDWORD size, LPDWORD index);
    BOOL(WINAPI *InternetCloseHandle)(HINTERNET handle);
    HINTERNET(WINAPI *InternetOpenA)(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags);
    HINTERNET(WINAPI *InternetOpenUrlA)(HINTERNET internet, LPCSTR url, LPCSTR headers, DWORD headersLength,
                                        DWORD flags, DWORD_PTR context);
    BOOL(WINAPI *InternetQueryDataAvailable)(HINTERNET request, LPDWORD available, DWORD flags, DWORD_PTR context);
    BOOL(WINAPI *InternetReadFile)(HINTERNET request, LPVOID buffer, DWORD wanted, LPDWORD read);
    BOOL(WINAPI *InternetSetOptionA)(HINTERNET handle, DWORD option, LPVOID value, DWORD size);
    UINT(WINAPI *MsiVerifyPackageA)(LPCSTR path);
};

// Set by every load to the same addresses, so a check that runs inside the
// box of another one may load the libraries again and free them again.
extern UpdateFunctions UpdateCalls;

// Loads both libraries and looks up every function: 1 when all were found.
// Whatever the answer, the caller frees what was loaded with
// FreeUpdateLibraries.
int LoadUpdateLibraries(HMODULE libraries[UPDATE_LIBRARY_COUNT]);
void FreeUpdateLibraries(HMODULE libraries[UPDATE_LIBRARY_COUNT]);

// Zero-fills path, then writes the system folder, a backslash and name
// into it: 1 when it all fitted.
int SystemFilePath(char *path, UINT size, const char *name);

#endif

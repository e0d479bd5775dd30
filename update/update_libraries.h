// The library only the update check needs. A program that runs all day
// loads it when the user asks for an update and frees it when the check
// ends.
#ifndef HALVOTREN_UPDATE_UPDATE_LIBRARIES_H
#define HALVOTREN_UPDATE_UPDATE_LIBRARIES_H

#include <windows.h>
#include <wininet.h>

// The functions the check calls, looked up in wininet.dll by name.
struct UpdateFunctions {
    BOOL(WINAPI *HttpQueryInfoA)(HINTERNET request, DWORD query, LPVOID buffer, LPDWORD size, LPDWORD index);
    BOOL(WINAPI *InternetCloseHandle)(HINTERNET handle);
    HINTERNET(WINAPI *InternetOpenA)(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags);
    HINTERNET(WINAPI *InternetOpenUrlA)(HINTERNET internet, LPCSTR url, LPCSTR headers, DWORD headersLength,
                                        DWORD flags, DWORD_PTR context);
    BOOL(WINAPI *InternetQueryDataAvailable)(HINTERNET request, LPDWORD available, DWORD flags, DWORD_PTR context);
    BOOL(WINAPI *InternetReadFile)(HINTERNET request, LPVOID buffer, DWORD wanted, LPDWORD read);
    BOOL(WINAPI *InternetSetOptionA)(HINTERNET handle, DWORD option, LPVOID value, DWORD size);
};

// Valid between a successful LoadUpdateCalls and its UnloadUpdateCalls.
extern UpdateFunctions UpdateCalls;

// wininet.dll and the functions of UpdateFunctions, for LoadSystemFunctions.
extern const char WininetList[];

// A check that the user has answered may still be closing its handles when
// the next one starts, so the library is counted: the first check loads it
// and fills UpdateCalls, and the last one to end frees it. 1 when the
// functions can be called; each success is matched by one unload.
int LoadUpdateCalls(void);
void UnloadUpdateCalls(void);
// Once, at start, before any check.
void InitUpdateCallsLock(void);

#endif

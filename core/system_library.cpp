#include "system_library.h"

#include <process.h>
#include <stdlib.h>
#include <string.h>

#include "text_format.h"

int SystemFilePath(char *path, UINT size, const char *name)
{
    ZeroMemory(path, size);
    const UINT length = GetSystemDirectoryA(path, size);
    return DirectoryLengthFits(length, size) && AppendText(path, size, "\\") && AppendText(path, size, name);
}

HMODULE LoadSystemFunctions(const char *list, void *functions)
{
    char path[MAX_PATH];
    HMODULE library = SystemFilePath(path, sizeof path, list) ? LoadLibraryA(path) : NULL;
    if (library == NULL)
        return NULL;
    char *slot = static_cast<char *>(functions);
    for (const char *name = list; *(name += strlen(name) + 1) != '\0'; slot += sizeof(FARPROC)) {
        // Every member is a function pointer, of one size and representation.
        FARPROC found = GetProcAddress(library, name);
        if (found == NULL) {
            FreeLibrary(library);
            return NULL;
        }
        memcpy(slot, &found, sizeof found);
    }
    return library;
}

int StartDetachedThread(unsigned(__stdcall *work)(void *), void *parameter)
{
    const uintptr_t started = _beginthreadex(NULL, 0, work, parameter, 0, NULL);
    if (started == 0)
        return 0;
    // The thread's handle, which the runtime returns as an integer.
    HANDLE thread;
    static_assert(sizeof thread == sizeof started, "a handle fits the integer");
    memcpy(&thread, &started, sizeof thread);
    CloseHandle(thread);
    return 1;
}

HANDLE StartProcess(const char *application, char *commandLine, BOOL inheritHandles, int inSystemFolder)
{
    char systemFolder[MAX_PATH];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if ((inSystemFolder && !SystemFilePath(systemFolder, sizeof systemFolder, "")) ||
        !CreateProcessA(application, commandLine, NULL, NULL, inheritHandles, 0, NULL,
                        inSystemFolder ? systemFolder : NULL, &startup, &process))
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

void *ProcessTokenInformation(TOKEN_INFORMATION_CLASS kind)
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return NULL;
    DWORD size = 0;
    // The first call only says how much room the answer takes.
    GetTokenInformation(token, kind, NULL, 0, &size);
    void *information = size != 0 ? malloc(size) : NULL;
    if (information != NULL && !GetTokenInformation(token, kind, information, size, &size)) {
        free(information);
        information = NULL;
    }
    CloseHandle(token);
    return information;
}

#include "test_points.h"

#include <windows.h>

#include <stdlib.h>

#ifdef HALVOTREN_TEST_POINTS
// Told to, changes the saved package as a program that reached the file in
// that moment could: "append" adds a byte after its end, anything else
// changes its last byte.
void AfterPackageWritten(const char *path)
{
    char told[8];
    const DWORD length = GetEnvironmentVariableA("HALVOTREN_CHANGE_SAVED_PACKAGE", told, sizeof told);
    if (length == 0)
        return;
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char last = 0;
    DWORD done = 0;
    if (length < sizeof told && lstrcmpA(told, "append") == 0) {
        if (SetFilePointer(file, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER)
            WriteFile(file, &last, 1, &done, NULL);
    } else if (SetFilePointer(file, -1, NULL, FILE_END) != INVALID_SET_FILE_POINTER &&
               ReadFile(file, &last, 1, &done, NULL) &&
               SetFilePointer(file, -1, NULL, FILE_END) != INVALID_SET_FILE_POINTER) {
        last ^= 1;
        WriteFile(file, &last, 1, &done, NULL);
    }
    CloseHandle(file);
}

// Told to, holds the new folder empty for a while, so that a second
// Halvotren's removal of leftovers meets it, and someone can try to put
// another folder in its place.
void AfterUpdateFolderMade(void)
{
    char milliseconds[16];
    if (GetEnvironmentVariableA("HALVOTREN_HOLD_UPDATE_FOLDER_MS", milliseconds, sizeof milliseconds) != 0)
        Sleep((DWORD)atoi(milliseconds));
}

// Told to, holds the check's release as a slow library's can be held.
void AfterCheckAnswered(void)
{
    char milliseconds[16];
    if (GetEnvironmentVariableA("HALVOTREN_HOLD_CHECK_RELEASE_MS", milliseconds, sizeof milliseconds) != 0)
        Sleep((DWORD)atoi(milliseconds));
}
#else
void AfterPackageWritten(const char *path)
{
    (void)path;
}

void AfterUpdateFolderMade(void)
{
}

void AfterCheckAnswered(void)
{
}
#endif

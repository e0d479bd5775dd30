// The package on disk: written as a new file, then held open so that nobody
// can change it, and read back through that handle, so that what Windows
// Installer is given is proven to be the bytes that were checked.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "update_files.h"
#include "test_points.h"

// Whether the file, read from where its handle stands to its end, holds
// exactly the package: a read of one byte more than it shows its end.
static int ReadsBackAs(HANDLE file, const char *package, DWORD size)
{
    char *back = (char *)malloc(size + 1);
    DWORD got = 0;
    const int same = back != NULL && ReadFile(file, back, size + 1, &got, NULL) && got == size &&
                     memcmp(back, package, size) == 0;
    free(back);
    return same;
}

HANDLE SavePackage(const char *path, const char *package, DWORD size)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    DWORD written = 0;
    const BOOL whole = WriteFile(file, package, size, &written, NULL) && written == size;
    const BOOL closed = CloseHandle(file);
    AfterPackageWritten(path);
    // Reading only and sharing only reading: Windows Installer, which reads
    // with the same sharing, can open it; nobody can write, rename or delete
    // it. What happened between the two opens the read-back shows.
    HANDLE locked = INVALID_HANDLE_VALUE;
    if (whole && closed)
        locked = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (locked != INVALID_HANDLE_VALUE && !ReadsBackAs(locked, package, size)) {
        CloseHandle(locked);
        locked = INVALID_HANDLE_VALUE;
    }
    return locked;
}

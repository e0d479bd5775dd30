// The package's own small program. Run before Windows Installer looks at
// which of its files are in use, it asks every Halvotren on this desktop to
// end, as its Exit command does (WM_CLOSE: the icon deleted, exit code 0),
// and waits a while for each. A Halvotren still running would keep its file
// in use, so that the installation replaced it only at the next restart and
// started the new version beside it, or an uninstall left it running. One
// that does not end in time is left alone, and the installation goes on as
// it would have.
//
// What it closed it notes in the user's registry, for the installation's
// end alone: an installation that fails, rolls back or is cancelled starts
// nothing of its own, so the noted program is started again then, and the
// firewall is not left unwatched until the next logon. One that finished
// started the installed program itself and forgets the note.
//
// Only in the desktop's own logon session, as the program it installs: an
// installation run as another account would otherwise end the user's
// watcher and start none in its place.
#include <windows.h>
#include <tlhelp32.h>

#include <string.h>

#include "closing_task.h"
#include "../../core/session.h"
#include "../../core/system_library.h"
#include "../../core/text_format.h"

#define MOST_PROGRAMS 16
#define WAIT_PER_PROGRAM_MS 10000

static const char NoteKey[] = "Software\\Halvotren";
static const char NoteValue[] = "ClosedByInstallation";

// The full path of a running process's program: its first module.
static int ProgramOfProcess(DWORD process, char program[MAX_PATH])
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    MODULEENTRY32 module;
    module.dwSize = sizeof module;
    const int found = Module32First(snapshot, &module) && FormatText(program, MAX_PATH, "%s", module.szExePath);
    CloseHandle(snapshot);
    return found;
}

static void ForgetClosed(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, NoteKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, NoteValue);
    RegCloseKey(key);
}

static void NoteClosed(const char *program)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, NoteKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, NoteValue, 0, REG_SZ, (const BYTE *)program, (DWORD)strlen(program) + 1);
    RegCloseKey(key);
}

// The noted program, into program: 1 when there is one.
static int ReadNote(char program[MAX_PATH])
{
    HKEY key;
    DWORD type = 0, size = MAX_PATH - 1;
    // The last byte stays zero: a value written without its terminator
    // still reads as a string.
    ZeroMemory(program, MAX_PATH);
    if (RegOpenKeyExA(HKEY_CURRENT_USER, NoteKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    const int read = RegQueryValueExA(key, NoteValue, NULL, &type, (BYTE *)program, &size) == ERROR_SUCCESS &&
                     type == REG_SZ && program[0] != '\0';
    RegCloseKey(key);
    return read;
}

static void CloseRunning(void)
{
    // All of them first: a window that has gone can no longer be the one a
    // search continues from.
    HWND windows[MOST_PROGRAMS];
    int count = 0;
    if (InDesktopSession()) {
        HWND window = NULL;
        while (count < MOST_PROGRAMS && (window = FindWindowExA(NULL, window, "Halvotren", NULL)) != NULL)
            windows[count++] = window;
    }
    HANDLE programs[MOST_PROGRAMS];
    char closed[MAX_PATH];
    int closing = 0, noted = 0;
    for (int i = 0; i < count; ++i) {
        DWORD process = 0;
        GetWindowThreadProcessId(windows[i], &process);
        HANDLE program = OpenProcess(SYNCHRONIZE, FALSE, process);
        if (program == NULL)
            continue;
        // Read while it still runs; one program to start again will do.
        if (!noted)
            noted = ProgramOfProcess(process, closed);
        if (PostMessageA(windows[i], WM_CLOSE, 0, 0))
            programs[closing++] = program;
        else
            CloseHandle(program);
    }
    // An earlier installation that was ended from outside may have left a
    // note; only what this one closed may be started again.
    if (closing > 0 && noted)
        NoteClosed(closed);
    else
        ForgetClosed();
    for (int i = 0; i < closing; ++i) {
        WaitForSingleObject(programs[i], WAIT_PER_PROGRAM_MS);
        CloseHandle(programs[i]);
    }
}

// Started as the package starts the program it installed, so that it goes
// on only in the desktop's own logon session; not when one runs already,
// one that did not end in time for instance.
static void RestartClosed(void)
{
    char program[MAX_PATH];
    char commandLine[MAX_PATH + sizeof " " INSTALLED_SWITCH + 2];
    const int noted = ReadNote(program);
    ForgetClosed();
    if (!noted || FindWindowExA(NULL, NULL, "Halvotren", NULL) != NULL ||
        !FormatText(commandLine, sizeof commandLine, "\"%s\" " INSTALLED_SWITCH, program))
        return;
    HANDLE started = StartProcess(program, commandLine, FALSE, 1);
    if (started != NULL)
        CloseHandle(started);
}

extern "C" void CloseHalvotrenStart(void)
{
    switch (ClosingTaskOf(GetCommandLineA())) {
    case CLOSE_RUNNING:
        CloseRunning();
        break;
    case RESTART_CLOSED:
        RestartClosed();
        break;
    case FORGET_CLOSED:
        ForgetClosed();
        break;
    default:
        break;
    }
    ExitProcess(0);
}

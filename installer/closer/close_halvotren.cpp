// The package's own small program. Run before Windows Installer looks at
// which of its files are in use, it asks every Halvotren on this desktop to
// end, as its Exit command does (WM_CLOSE: the icon deleted, exit code 0),
// and waits a while for each. A Halvotren still running would keep its file
// in use, so that the installation replaced it only at the next restart and
// started the new version beside it, or an uninstall left it running. One
// that does not end in time is left alone, and the installation goes on as
// it would have.
//
// That it closed one it notes in the user's registry, for this product's
// installation alone: one that fails, rolls back or is cancelled starts
// nothing of its own, so the package's own program is started again then,
// and the firewall is not left unwatched until the next logon. One that
// finished started the installed program itself and forgets the note. The
// note names no program: what starts is the file Windows Installer has
// registered for the package's program component once the installation's
// work is over (after a failed upgrade or removal, the old version, wherever
// it was installed), never a path that any program of the user's could have
// written. Each note is a
// value named for its product, which no other product's installation, nor
// any version of the package from before the notes were kept so, reads or
// removes.
//
// Only in the desktop's own logon session, as the program it installs: an
// installation run as another account would otherwise end the user's
// watcher and start none in its place.
#include <windows.h>

#include "closing_task.h"
#include "../../core/installed_program.h"
#include "../../core/session.h"
#include "../../core/system_library.h"
#include "../../core/text_format.h"

#define MOST_PROGRAMS 16
#define WAIT_PER_PROGRAM_MS 10000

static const char NoteKey[] = "Software\\Halvotren";
#define NOTE_PREFIX "ClosedBy"
#define NOTE_NAME_SIZE (sizeof NOTE_PREFIX - 1 + PRODUCT_CODE_SIZE)

// The note's value name for this product, whose code always fits.
static void NoteName(char name[NOTE_NAME_SIZE], const char *product)
{
    FormatText(name, NOTE_NAME_SIZE, NOTE_PREFIX "%s", product);
}

// Removes the note: 1 when there was one.
static int ForgetClosed(const char *note)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, NoteKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    const int noted = RegDeleteValueA(key, note) == ERROR_SUCCESS;
    RegCloseKey(key);
    return noted;
}

static void NoteClosed(const char *note)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, NoteKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, note, 0, REG_SZ, (const BYTE *)"", 1);
    RegCloseKey(key);
}

// 1 when a Halvotren it asked to end did end within the wait.
static int CloseRunning(void)
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
    int closing = 0, ended = 0;
    for (int i = 0; i < count; ++i) {
        DWORD process = 0;
        GetWindowThreadProcessId(windows[i], &process);
        HANDLE program = OpenProcess(SYNCHRONIZE, FALSE, process);
        if (program == NULL)
            continue;
        if (PostMessageA(windows[i], WM_CLOSE, 0, 0))
            programs[closing++] = program;
        else
            CloseHandle(program);
    }
    for (int i = 0; i < closing; ++i) {
        if (WaitForSingleObject(programs[i], WAIT_PER_PROGRAM_MS) == WAIT_OBJECT_0)
            ended = 1;
        CloseHandle(programs[i]);
    }
    return ended;
}

// Started as the package starts the program it installed, so that it goes
// on only in the desktop's own logon session; not when one runs already,
// one that did not end in time or one the user started meanwhile. The exit
// actions run once the installation's script, and any rollback of it, has
// run, so the registration is the one the machine is left with. Not the
// file the package names ([#HalvotrenExe]): that is the new version's place
// in an upgrade, and blank in a removal, where its component is going.
static void RestartClosed(const char *note)
{
    char program[MAX_PATH];
    char commandLine[MAX_PATH + sizeof " " INSTALLED_SWITCH + 2];
    if (!ForgetClosed(note) || FindWindowExA(NULL, NULL, "Halvotren", NULL) != NULL ||
        !InstalledProgramPath(program) ||
        !FormatText(commandLine, sizeof commandLine, "\"%s\" " INSTALLED_SWITCH, program))
        return;
    HANDLE started = StartProcess(program, commandLine, FALSE, 1);
    if (started != NULL)
        CloseHandle(started);
}

extern "C" void CloseHalvotrenStart(void)
{
    char product[PRODUCT_CODE_SIZE];
    char note[NOTE_NAME_SIZE];
    const int task = ReadClosingOrders(GetCommandLineA(), product);
    if (task != NO_CLOSING_TASK)
        NoteName(note, product);
    switch (task) {
    case CLOSE_RUNNING:
        // An earlier installation of this product that was ended from
        // outside may have left a note; only what this one closed may be
        // started again.
        if (CloseRunning())
            NoteClosed(note);
        else
            ForgetClosed(note);
        break;
    case RESTART_CLOSED:
        RestartClosed(note);
        break;
    case FORGET_CLOSED:
        ForgetClosed(note);
        break;
    default:
        break;
    }
    ExitProcess(0);
}

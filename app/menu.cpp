// The tray menu and the commands it carries out itself.
#include <windows.h>

#include "tray.h"
#include "../core/system_library.h"
#include "../watch/later_firewall.h"

void ShowTrayMenu(void)
{
    HMENU menu = CreatePopupMenu();
    if (menu == NULL)
        return;
    for (const MenuItem &item : TrayMenuItems) {
        if (!AppendMenuA(menu, MF_STRING, (UINT_PTR)item.identifier, item.text)) {
            DestroyMenu(menu);
            return;
        }
    }

    POINT cursor;
    if (GetCursorPos(&cursor)) {
        // Without the foreground the menu would not close when the user
        // clicks elsewhere; the posted message lets it dismiss properly
        // (the platform's documented remedy for tray menus).
        SetForegroundWindow(TrayWindow);
        TrackPopupMenu(menu, 0, cursor.x, cursor.y, 0, TrayWindow, NULL);
        PostMessageA(TrayWindow, WM_NULL, 0, 0);
    }
    DestroyMenu(menu);
}

// The later firewall's log is often missing (logging is off by default)
// and readable by administrators alone: the viewer is started only once it
// can be opened for reading (readTemplate), and a box says why otherwise.
// XP's viewer starts as it always did.
int LaunchCommandLine(const char *commandTemplate, const char *readTemplate)
{
    char windowsDirectory[MAX_PATH];
    char commandLine[MAX_PATH];
    ZeroMemory(windowsDirectory, sizeof windowsDirectory);
    GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
    if (readTemplate != NULL) {
        FormatLaunchCommandLine(commandLine, sizeof commandLine, readTemplate, windowsDirectory);
        HANDLE file = CreateFileA(commandLine, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            MessageBoxA(NULL, LogRefusalText, "View Log", MB_OK);
            return 1;
        }
        CloseHandle(file);
    }
    FormatLaunchCommandLine(commandLine, sizeof commandLine, commandTemplate, windowsDirectory);

    HANDLE process = StartProcess(NULL, commandLine, FALSE, 0);
    if (process == NULL)
        return 1;
    // Nothing waits for the launched program.
    CloseHandle(process);
    return 0;
}

static void ShowAbout(void)
{
    char text[1024];
    FormatAboutText(text, sizeof text, kProgramVersion);
    MessageBoxA(TrayWindow, text, "About", MB_OK);
}

void RunCommand(int identifier)
{
    const FirewallPath *path = FirewallPathOf(FirewallPathTaken.load());
    switch (identifier) {
    case CMD_EXIT:
        PostQuitMessage(0);
        RemoveTrayIcon();
        break;
    case CMD_ABOUT:
        ShowAbout();
        break;
    case CMD_HELP:
        MessageBoxA(TrayWindow, HelpText, "Halvotren Help", MB_OK);
        break;
    case CMD_STOP_FIREWALL:
        StartFirewallSwitch(0);
        break;
    case CMD_START_FIREWALL:
        StartFirewallSwitch(1);
        break;
    case CMD_CONFIGURE:
        LaunchCommandLine(path->configureTemplate, NULL);
        break;
    case CMD_VIEW_LOG:
        LaunchCommandLine(path->viewLogTemplate, path->logTemplate);
        break;
    case CMD_CHECK_UPDATES:
        StartUpdateCheck();
        break;
    }
}

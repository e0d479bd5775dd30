// The tray menu and the commands it carries out itself.
#include <windows.h>

#include "tray.h"
#include "../core/system_library.h"
#include "../update/update.h"
#include "../watch/profile.h"
#include "../watch/status.h"

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

int LaunchCommandLine(const char *commandTemplate)
{
    char windowsDirectory[MAX_PATH];
    char commandLine[MAX_PATH];
    ZeroMemory(windowsDirectory, sizeof windowsDirectory);
    GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
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

// The monitor thread may release the profile if its start-up fails after
// publishing it; holding the lock for the whole switch keeps that release
// from happening while this thread still uses the object.
static void SwitchSharedProfile(HRESULT (*operation)(INetFwProfile *profile))
{
    LockSharedProfile();
    INetFwProfile *profile = SharedProfile.load();
    if (profile != NULL)
        operation(profile);
    UnlockSharedProfile();
}

void RunCommand(int identifier)
{
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
        SwitchSharedProfile(DisableFirewall);
        break;
    case CMD_START_FIREWALL:
        SwitchSharedProfile(EnableFirewall);
        break;
    case CMD_CONFIGURE:
        LaunchCommandLine(ConfigureTemplate);
        break;
    case CMD_VIEW_LOG:
        LaunchCommandLine(ViewLogTemplate);
        break;
    case CMD_CHECK_UPDATES:
        // The installer replaces this program's files, so the program ends
        // now. It takes its icon away first, as Exit does: a shell keeps the
        // icon of a program that ended without it until the mouse passes
        // over, and after the update the user would see two.
        if (CheckForUpdates()) {
            RemoveTrayIcon();
            ExitProcess(0);
        }
        break;
    }
}

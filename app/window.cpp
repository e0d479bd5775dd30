// The hidden window's procedure: the one place where timer ticks, tray
// mouse events and menu commands arrive.
#include <windows.h>

#include "tray.h"

// Registered at start-up; 0 when registration failed.
static UINT TaskbarCreatedMessage = 0;

typedef BOOL(WINAPI *ChangeWindowMessageFilterFunction)(UINT message, DWORD flag);
typedef BOOL(WINAPI *SetProcessDPIAwareFunction)(void);

// What Vista and later ask of a tray program; the functions do not exist on
// XP, so they are looked up.
void ListenForTaskbarRestarts(void)
{
    TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (user32 == NULL)
        return;
    // Aware of the display's scale, before any window: otherwise Windows
    // stretches the 16-pixel icon into the larger cell of a scaled display,
    // blurred.
    SetProcessDPIAwareFunction aware =
        (SetProcessDPIAwareFunction)(void *)GetProcAddress(user32, "SetProcessDPIAware");
    if (aware != NULL)
        aware();
    // An elevated process gets the taskbar's message only when it lets it
    // through, and so the icon's own callback, sent by the shell, which
    // runs with the user's filtered token: a program that an installation
    // started may run elevated. Nothing else is let through, so no other
    // program of the user's drives an elevated one (a menu it could open
    // still waits for the user).
    ChangeWindowMessageFilterFunction allow =
        (ChangeWindowMessageFilterFunction)(void *)GetProcAddress(user32, "ChangeWindowMessageFilter");
    if (allow != NULL) {
        allow(TaskbarCreatedMessage, 1 /* MSGFLT_ADD */);
        allow(WM_TRAYNOTIFY, 1 /* MSGFLT_ADD */);
    }
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Explorer has been restarted, so the tray icon was lost with the old
    // taskbar: add it again now rather than wait for the next tick.
    if (TaskbarCreatedMessage != 0 && message == TaskbarCreatedMessage) {
        ForgetTrayIcon();
        RefreshTrayIcon();
        return DefWindowProcA(window, message, wParam, lParam);
    }

    switch (message) {
    case WM_CREATE:
        // TrayWindow is not assigned until CreateWindowExA returns.
        SetTimer(window, REFRESH_TIMER_ID, REFRESH_PERIOD_MS, NULL);
        break;
    case WM_CLOSE:
        PostQuitMessage(0);
        RemoveTrayIcon();
        break;
    case WM_ENDSESSION:
        // A logoff, or the Restart Manager closing programs for an
        // installation, ends the program as Exit does: the icon goes and
        // the exit code is 0. Windows may end the process once this
        // returns; the icon is gone already.
        if (wParam)
            RunCommand(CMD_EXIT);
        return 0;
    case WM_COMMAND:
        if (IsTrayCommand(LOWORD(wParam)))
            RunCommand(LOWORD(wParam));
        break;
    case WM_TIMER:
        RefreshTrayIcon();
        break;
    case WM_TRAYNOTIFY:
        if (lParam == WM_RBUTTONUP)
            ShowTrayMenu();
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

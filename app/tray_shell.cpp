// The tray icon's shell calls: added at the first tick, re-applied every
// second, deleted on exit.
#include <windows.h>
#include <shellapi.h>

#include "tray.h"
#include "tray_icon.h"
#include "../watch/status.h"

// 1 while the shell is known to hold the icon.
static LONG iconAdded = 0;

// The first version of the record: 88 bytes on 32-bit Windows, understood
// by every shell from Windows 95 on. Its tip holds 64 bytes.
static void FillTrayRecord(NOTIFYICONDATAA *record, UINT flags)
{
    ZeroMemory(record, sizeof *record);
    record->cbSize = NOTIFYICONDATAA_V1_SIZE;
    record->hWnd = TrayWindow;
    record->uID = 0;
    record->uFlags = flags;
    record->uCallbackMessage = WM_TRAYNOTIFY;
}

void RefreshTrayIcon(void)
{
    int identifier = ChooseTrayIcon(StatusFlags.firewallOn.load(), StatusFlags.servicesUp.load(),
                                    MonitorCallStarted.load(), CommandCallStarted.load(), GetTickCount());
    // The small-icon size, square: 16 pixels at 96 DPI, more on a scaled
    // display, for which the group holds a larger picture.
    const int size = GetSystemMetrics(SM_CXSMICON);
    HICON icon =
        (HICON)LoadImageA(ProgramInstance, MAKEINTRESOURCEA(identifier), IMAGE_ICON, size, size, LR_DEFAULTCOLOR);

    NOTIFYICONDATAA record;
    FillTrayRecord(&record, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    record.hIcon = icon;
    lstrcpynA(record.szTip, "Halvotren", 64);

    // The shell refuses an add before the taskbar exists (at logon), loses
    // the icon when it restarts, and refuses a second add of an icon it
    // holds: try the other call before giving up until the next tick.
    DWORD first = FirstTrayCall(iconAdded) == TRAY_ADD ? NIM_ADD : NIM_MODIFY;
    DWORD second = first == NIM_ADD ? NIM_MODIFY : NIM_ADD;
    iconAdded = Shell_NotifyIconA(first, &record) || Shell_NotifyIconA(second, &record);

    if (icon != NULL)
        DestroyIcon(icon);
}

void ForgetTrayIcon(void)
{
    iconAdded = 0;
}

void RemoveTrayIcon(void)
{
    NOTIFYICONDATAA record;
    FillTrayRecord(&record, NIF_MESSAGE);
    Shell_NotifyIconA(NIM_DELETE, &record);
}

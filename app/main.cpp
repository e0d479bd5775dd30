// Program entry: register the hidden window's class, start the monitor
// thread, create the window and run the message loop.
#include <windows.h>

#include "tray.h"
#include "../watch/status.h"
#include "../watch/monitor.h"
#include "../core/system_library.h"
#include "../handover/handover.h"
#include "../update/update_libraries.h"

HWND TrayWindow = NULL;
HINSTANCE ProgramInstance = NULL;

static BOOL RegisterTrayWindowClass(void)
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = TrayWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = ProgramInstance;
    // The system's own application icon and arrow, shared, through the one
    // loader the tray icon needs as well (IDI_APPLICATION and IDC_ARROW
    // are the OEM images OIC_SAMPLE and OCR_NORMAL).
    windowClass.hIcon = (HICON)LoadImageA(NULL, IDI_APPLICATION, IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE);
    windowClass.hCursor = (HCURSOR)LoadImageA(NULL, IDC_ARROW, IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszMenuName = NULL;
    windowClass.lpszClassName = "Halvotren";
    return RegisterClassA(&windowClass) != 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand)
{
    (void)previousInstance;
    (void)commandLine;
    (void)showCommand;

    ProgramInstance = instance;
    InitProfileLock();
    InitUpdateFilesLock();
    InitUpdateCallsLock();
    ListenForTaskbarRestarts();
    StartLeftoverRemoval();
    if (!RegisterTrayWindowClass())
        return 0;

    // The monitor thread lives as long as the process.
    if (!StartDetachedThread(MonitorThreadMain, NULL))
        return 0;

    TrayWindow = CreateWindowExA(0, "Halvotren", "", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0,
                                 NULL, NULL, ProgramInstance, NULL);
    if (TrayWindow == NULL)
        return 0;

    MSG message;
    BOOL got;
    while ((got = GetMessageA(&message, NULL, 0, 0)) != 0) {
        if (got == -1)
            return 0;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // The icon is gone already; a Start, Stop or check under way ends with
    // the process, whatever it waits on (see the entry), but an update's
    // files are finished or removed first.
    EndUpdates();
    return (int)message.wParam;
}

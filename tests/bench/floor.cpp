// The floor the footprint benchmark compares Halvotren with: the work any
// program that shows this tray icon as Halvotren must and watches the
// firewall and its two services cannot avoid, and nothing else. Every second,
// from a hidden window's timer, Halvotren's own tray icon loaded from the
// resources, handed to the shell and destroyed (Halvotren is required to do
// exactly that); one thread that makes the firewall manager once and then,
// every two seconds, asks it which profile type is in force, reads the
// firewall and queries both services through handles opened once.
//
//   floor.exe [SECONDS]   removes its icon and ends after SECONDS, else on
//                         WM_CLOSE. Exit code 2: the firewall or a service
//                         could not be reached, so the floor did less than
//                         Halvotren and its figures are no floor.
#include <windows.h>
#include <initguid.h>
#include <objbase.h>
#include <netfw.h>
#include <shellapi.h>

#include <stdlib.h>

#define TICK_TIMER 1
#define END_TIMER 2
#define TICK_MS 1000
#define CYCLE_MS 2000
// Halvotren's green tray icon, which it shows while all is well.
#define IDI_TRAY_ON 103

static HWND FloorWindow = NULL;
static HINSTANCE FloorInstance = NULL;
static BOOL IconAdded = FALSE;
static volatile LONG Unreachable = 0;

static void FillRecord(NOTIFYICONDATAA *record, UINT flags)
{
    ZeroMemory(record, sizeof *record);
    record->cbSize = NOTIFYICONDATAA_V1_SIZE;
    record->hWnd = FloorWindow;
    record->uID = 0;
    record->uFlags = flags;
    record->uCallbackMessage = WM_USER;
}

static void ApplyIcon(void)
{
    HICON icon = LoadIconA(FloorInstance, MAKEINTRESOURCEA(IDI_TRAY_ON));
    NOTIFYICONDATAA record;
    FillRecord(&record, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    record.hIcon = icon;
    lstrcpynA(record.szTip, "Halvotren", 64);
    if (IconAdded)
        Shell_NotifyIconA(NIM_MODIFY, &record);
    else
        IconAdded = Shell_NotifyIconA(NIM_ADD, &record);
    if (icon != NULL)
        DestroyIcon(icon);
}

static LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == TICK_TIMER) {
            ApplyIcon();
            return 0;
        }
        if (wParam == END_TIMER) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_CLOSE: {
        NOTIFYICONDATAA record;
        FillRecord(&record, NIF_MESSAGE);
        Shell_NotifyIconA(NIM_DELETE, &record);
        PostQuitMessage(0);
        return 0;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The manager, kept to be asked the profile type in force, and the profile.
static INetFwProfile *OpenProfile(INetFwMgr **manager)
{
    INetFwPolicy *policy = NULL;
    INetFwProfile *profile = NULL;
    if (SUCCEEDED(CoCreateInstance(CLSID_NetFwMgr, NULL, CLSCTX_INPROC_SERVER, IID_INetFwMgr,
                                   (void **)manager)) &&
        SUCCEEDED((*manager)->get_LocalPolicy(&policy)))
        policy->get_CurrentProfile(&profile);
    if (policy != NULL)
        policy->Release();
    return profile;
}

static DWORD WINAPI WatchMain(LPVOID parameter)
{
    (void)parameter;
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INetFwMgr *firewall = NULL;
    INetFwProfile *profile = OpenProfile(&firewall);
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE services[2] = {NULL, NULL};
    if (manager != NULL) {
        services[0] = OpenServiceA(manager, "SharedAccess", SERVICE_QUERY_STATUS);
        services[1] = OpenServiceA(manager, "IpNat", SERVICE_QUERY_STATUS);
    }
    if (profile == NULL || services[0] == NULL || services[1] == NULL) {
        InterlockedExchange(&Unreachable, 1);
        PostMessageA(FloorWindow, WM_CLOSE, 0, 0);
        return 0;
    }
    // Like the program it stands beside, this thread lives as long as the
    // process and lets the process end free what it holds.
    for (;;) {
        NET_FW_PROFILE_TYPE inForce = NET_FW_PROFILE_STANDARD;
        firewall->get_CurrentProfileType(&inForce);
        VARIANT_BOOL enabled = VARIANT_FALSE;
        profile->get_FirewallEnabled(&enabled);
        for (SC_HANDLE service : services) {
            SERVICE_STATUS_PROCESS status;
            DWORD needed = 0;
            QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (LPBYTE)&status, sizeof status, &needed);
        }
        SleepEx(CYCLE_MS, FALSE);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand)
{
    (void)previousInstance;
    (void)showCommand;

    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = FloorWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "HalvotrenFloor";
    if (!RegisterClassA(&windowClass))
        return 1;
    FloorInstance = instance;
    FloorWindow = CreateWindowExA(0, "HalvotrenFloor", "", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, NULL, NULL,
                                  instance, NULL);
    if (FloorWindow == NULL)
        return 1;
    SetTimer(FloorWindow, TICK_TIMER, TICK_MS, NULL);
    unsigned long seconds = strtoul(commandLine, NULL, 10);
    if (seconds > 0)
        SetTimer(FloorWindow, END_TIMER, (UINT)(seconds * 1000), NULL);

    HANDLE watch = CreateThread(NULL, 0, WatchMain, NULL, 0, NULL);
    if (watch == NULL)
        return 1;
    CloseHandle(watch);

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return Unreachable ? 2 : 0;
}

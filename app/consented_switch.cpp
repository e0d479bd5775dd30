// Start and Stop on the later firewall. Windows refuses the switch to a
// standard user and to an administrator's filtered token alike
// (E_ACCESSDENIED); the program then starts its own file again with the
// verb runas, and Windows asks the user's consent before that copy runs
// with the full token. The copy switches the firewall and nothing else: no
// window, no icon, no monitor, and no command line but its one argument.
#include <windows.h>
#include <shellapi.h>

#include "tray.h"
#include "../watch/later_firewall.h"
#include "../watch/profile.h"
#include "../watch/status.h"

int RunConsentedSwitch(const char *commandLine)
{
    const int wanted = ConsentedSwitchWanted(commandLine);
    if (wanted == SWITCH_NOT_ASKED)
        return CONSENT_NOT_ASKED;
    // Elevated, the copy must act on nothing it was not asked in exactly
    // the words its parent uses.
    if (wanted == SWITCH_REFUSED)
        return ERROR_INVALID_PARAMETER;
    HRESULT result = CoInitializeEx(NULL, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    if (FAILED(result))
        return (int)result;
    INetFwPolicy2 *policy = NULL;
    result = CreateFirewallPolicy(&policy);
    if (SUCCEEDED(result)) {
        LONG inForce;
        LONG enabled;
        int putTried;
        result = UseProfilesInForce(policy, wanted, &CommandCallStarted, &inForce, &enabled, &putTried);
        policy->Release();
    }
    CoUninitialize();
    return FAILED(result) ? (int)result : 0;
}

// Waits for the copy, however long the user takes to answer: a prompt is
// no stalled call, so nothing is marked, the icon keeps its colour, and the
// command stays under way, so that no second Start or Stop begins.
static void SwitchWithConsent(int wanted)
{
    // The program's own file by its full path; a name that did not fit,
    // cut and terminated, names nothing ShellExecuteExA starts, and that
    // failure gives the notice.
    char program[MAX_PATH];
    ZeroMemory(program, sizeof program);
    GetModuleFileNameA(NULL, program, sizeof program - 1);
    // This thread is in the multithreaded apartment, as ShellExecuteEx asks
    // of its caller; the single-threaded one it suggests is for shell
    // extensions, which an executable's runas never reaches, and a thread
    // that waits as this one does would pump no messages for it.
    SHELLEXECUTEINFOA execute;
    ZeroMemory(&execute, sizeof execute);
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    // Owned by the window the menu brought to the foreground, the consent
    // prompt opens in front rather than flashing in the taskbar.
    execute.hwnd = TrayWindow;
    execute.lpVerb = "runas";
    execute.lpFile = program;
    execute.lpParameters = wanted ? SWITCH_ARGUMENT_ON : SWITCH_ARGUMENT_OFF;
    execute.nShow = SW_HIDE;
    DWORD code = 0;
    if (!ShellExecuteExA(&execute)) {
        // Declined: the user chose it, so no box.
        if (GetLastError() == ERROR_CANCELLED)
            return;
        code = 1;
    } else if (execute.hProcess != NULL) {
        // A wait that failed leaves the copy STILL_ACTIVE: a failure too.
        WaitForSingleObject(execute.hProcess, INFINITE);
        if (!GetExitCodeProcess(execute.hProcess, &code))
            code = 1;
        CloseHandle(execute.hProcess);
    }
    if (code != 0)
        ShowSwitchNotice(wanted);
}

void SwitchLaterFirewallCommand(int wanted)
{
    if (SwitchLaterFirewall(wanted) == E_ACCESSDENIED)
        SwitchWithConsent(wanted);
}

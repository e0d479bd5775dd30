#include "firewall_path.h"

#include <string.h>

#include "../core/text_format.h"

// Where a 32-bit program's paths lead under WOW64 (64-bit Windows): the
// system folder is redirected to SysWOW64, except for the folders
// Microsoft lists as exempt, LogFiles among them. So the log is named under
// system32 on every Windows, 32-bit or 64-bit, and reaches the one the
// firewall writes (Sysnative would exist on 64-bit Windows alone);
// control.exe is SysWOW64's, which hands the canonical name to the shell;
// notepad.exe lies in the Windows folder, which is not redirected.
// The later log's path is the tail of the viewer's command line.
static const char LaterViewLog[] = "%s\\notepad.exe %s\\system32\\LogFiles\\Firewall\\pfirewall.log";
#define LATER_LOG_OFFSET (sizeof "%s\\notepad.exe " - 1)

static const FirewallPath Paths[2] = {
    {"SharedAccess", "IpNat",
     "Warning, critical firewall services have been stopped!\n\n"
     "Please restart the SharedAccess service and IpNat Service or\n"
     "contact your System Administrator immediately.",
     "%s\\system32\\rundll32.exe %s\\system32\\shell32.dll,Control_RunDLL firewall.cpl,Windows Firewall",
     "%s\\notepad.exe %s\\pfirewall.log", NULL},
    {"MpsSvc", "BFE",
     "Warning, critical firewall services have been stopped!\n\n"
     "Please restart the Windows Firewall (MpsSvc) and Base Filtering Engine (BFE) services "
     "or contact your System Administrator immediately.",
     "%s\\system32\\control.exe /name Microsoft.WindowsFirewall", LaterViewLog,
     LaterViewLog + LATER_LOG_OFFSET},
};

const FirewallPath *FirewallPathOf(int path)
{
    return &Paths[path == PATH_LATER ? 1 : 0];
}

int PathForPolicyCreation(long createResult)
{
    switch ((unsigned long)createResult) {
    case 0x80040154ul:  // REGDB_E_CLASSNOTREG
    case 0x80040111ul:  // CLASS_E_CLASSNOTAVAILABLE
    case 0x80004002ul:  // E_NOINTERFACE
    case 0x8007007Eul:  // the class's library is missing (ERROR_MOD_NOT_FOUND)
        return PATH_XP;
    default:
        return PATH_LATER;
    }
}

int EveryProfileInForceOn(long inForce, long enabled)
{
    inForce &= PROFILE2_EACH;
    return inForce != 0 && (inForce & ~enabled) == 0;
}

int ConsentedSwitchWanted(const char *commandLine)
{
    const char *arguments = ArgumentsOf(commandLine);
    if (arguments == NULL)
        return SWITCH_NOT_ASKED;
    if (strcmp(arguments, SWITCH_ARGUMENT_ON) == 0)
        return 1;
    if (strcmp(arguments, SWITCH_ARGUMENT_OFF) == 0)
        return 0;
    // Arguments that begin as on and off do, in any case, tell a copy asked
    // for with a line it must refuse; the program's other switches begin
    // with a slash.
    return (*arguments | 0x20) == 'o' ? SWITCH_REFUSED : SWITCH_NOT_ASKED;
}

const char LogRefusalText[] =
    "Cannot read the firewall log: logging is off by default, and only an administrator may read it.";

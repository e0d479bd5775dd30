#include "commands.h"

#include "../core/text_format.h"

const MenuItem TrayMenuItems[8] = {
    {CMD_VIEW_LOG, "View Log"},
    {CMD_CONFIGURE, "Configure"},
    {CMD_START_FIREWALL, "Start Windows Firewall"},
    {CMD_STOP_FIREWALL, "Stop Windows Firewall"},
    {CMD_HELP, "Help"},
    {CMD_CHECK_UPDATES, "Check for Updates"},
    {CMD_ABOUT, "About This Program"},
    {CMD_EXIT, "Exit"},
};

const char HelpText[] =
    "Halvotren Help\n\n"
    "Right click on the Halvotren icon to control any\n"
    "Windows firewall features.  To stop or start the\n"
    "firewall you must have administrative rights.\n"
    "The icon in the system tray will be green when the\n"
    "firewall is active and red if it is deactivated.\n"
    "Halvotren will also popup a message box alerting\n"
    "you to the firewall going down.\n";

static const char AboutTemplate[] =
    "Halvotren\nVersion %g\nBy: Maren Holt(maren.holt@halvotren.example)\nhttp://www.halvotren.example/";

int IsTrayCommand(unsigned identifier)
{
    return identifier >= CMD_EXIT && identifier <= CMD_CHECK_UPDATES;
}

void FormatAboutText(char *buffer, size_t size, double version)
{
    FormatText(buffer, size, AboutTemplate, version);
}

void FormatLaunchCommandLine(char *buffer, size_t size, const char *commandTemplate,
                             const char *windowsDirectory)
{
    // The templates are the firewall paths' (watch/firewall_path.cpp), each
    // with one or two %s.
    FormatText(buffer, size, commandTemplate, windowsDirectory, windowsDirectory);
}

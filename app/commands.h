// The tray menu's command identifiers, its items, and the texts and command
// lines its commands produce. No Windows header here, so all of it can be
// tested on any compiler.
#ifndef HALVOTREN_APP_COMMANDS_H
#define HALVOTREN_APP_COMMANDS_H

#include <stddef.h>

#define CMD_EXIT 100
#define CMD_ABOUT 101
#define CMD_HELP 102
#define CMD_STOP_FIREWALL 103
#define CMD_START_FIREWALL 104
#define CMD_CONFIGURE 105
#define CMD_VIEW_LOG 106
#define CMD_CHECK_UPDATES 107

struct MenuItem {
    int identifier;
    const char *text;
};

// The popup menu, top to bottom.
extern const MenuItem TrayMenuItems[8];

extern const char HelpText[];

// 1 for the identifiers the tray menu can send, 0 for anything else.
int IsTrayCommand(unsigned identifier);

// The About text for this version, cut to the buffer and always terminated.
void FormatAboutText(char *buffer, size_t size, double version);

// A launcher's command line: every %s of the template becomes the Windows
// directory. Cut to the buffer and always terminated.
void FormatLaunchCommandLine(char *buffer, size_t size, const char *commandTemplate,
                             const char *windowsDirectory);

#endif

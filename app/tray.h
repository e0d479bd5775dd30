// The tray shell's shared names: the hidden window, the instance handle,
// the command identifiers and the program's version (kProgramVersion, from
// the generated version.h).
#ifndef HALVOTREN_APP_TRAY_H
#define HALVOTREN_APP_TRAY_H

#include <windows.h>

#include "commands.h"
#include "version.h"

extern HWND TrayWindow;
extern HINSTANCE ProgramInstance;

#define REFRESH_TIMER_ID 10
#define REFRESH_PERIOD_MS 1000

// The shell reports mouse events on the tray icon with this message; its
// lParam carries the mouse message.
#define WM_TRAYNOTIFY WM_USER


LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The tray icon.
void RefreshTrayIcon(void);
void RemoveTrayIcon(void);
// Lets the window hear that the taskbar was recreated, and makes the
// process aware of the display's scale: before any window.
void ListenForTaskbarRestarts(void);
// After the taskbar was recreated the shell no longer holds the icon.
void ForgetTrayIcon(void);

// The tray menu and its commands.
void ShowTrayMenu(void);
void RunCommand(int identifier);
int LaunchCommandLine(const char *commandTemplate, const char *readTemplate);
// Start or Stop (wanted 1 or 0), and Check for Updates, each on a thread of
// its own; nothing when one of its kind is under way.
void StartFirewallSwitch(int wanted);
void StartUpdateCheck(void);
// Start or Stop on the later firewall, from a command's thread in the
// multithreaded apartment.
void SwitchLaterFirewallCommand(int wanted);

// The copy started to switch the later firewall with the user's consent:
// its exit code, or CONSENT_NOT_ASKED when the command line is none of its.
#define CONSENT_NOT_ASKED (-1)
int RunConsentedSwitch(const char *commandLine);

#endif

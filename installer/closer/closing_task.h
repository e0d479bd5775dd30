// What the package's closing program is run for. No Windows header: tested
// on any compiler.
#ifndef HALVOTREN_INSTALLER_CLOSER_CLOSING_TASK_H
#define HALVOTREN_INSTALLER_CLOSER_CLOSING_TASK_H

// Run without an argument, before Windows Installer looks at which files are
// in use, it closes the running Halvotren and notes which program it closed.
// With one of these, when the installation ends: it starts the noted program
// again (a failed or cancelled installation), or forgets it (one that
// finished, and started its own).
#define RESTART_SWITCH "/restart"
#define FORGET_SWITCH "/forget"

enum ClosingTask { CLOSE_RUNNING, RESTART_CLOSED, FORGET_CLOSED, NO_CLOSING_TASK };

// The task a command line asks for, as the program received it: its own
// name first, then nothing or one of the switches. Anything else is
// NO_CLOSING_TASK.
int ClosingTaskOf(const char *commandLine);

#endif

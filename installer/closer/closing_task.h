// What the package's closing program is run for, and for which product. No
// Windows header: tested on any compiler.
#ifndef HALVOTREN_INSTALLER_CLOSER_CLOSING_TASK_H
#define HALVOTREN_INSTALLER_CLOSER_CLOSING_TASK_H

// Each switch comes with the installation's product code. Before Windows
// Installer looks at which files are in use, it closes the running
// Halvotren and notes, for that product alone, that it closed one. When the
// installation ends, it starts the installed program again (a failed or
// cancelled installation), or forgets the note (one that finished, and
// started its own).
#define CLOSE_SWITCH "/close"
#define RESTART_SWITCH "/restart"
#define FORGET_SWITCH "/forget"

enum ClosingTask { CLOSE_RUNNING, RESTART_CLOSED, FORGET_CLOSED, NO_CLOSING_TASK };

// A product code as Windows Installer writes it, braced, and its terminator.
#define PRODUCT_CODE_SIZE 39

// The task a command line asks for, as the program received it: its own
// name first, then a switch, a blank and the product code, copied into
// product; blanks may follow. Anything else is NO_CLOSING_TASK, with
// product left unspecified.
int ReadClosingOrders(const char *commandLine, char product[PRODUCT_CODE_SIZE]);

#endif

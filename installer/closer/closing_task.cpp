#include "closing_task.h"

#include "../../core/text_format.h"

int ClosingTaskOf(const char *commandLine)
{
    static const char *const Switches[] = {"", RESTART_SWITCH, FORGET_SWITCH};
    for (int task = CLOSE_RUNNING; task < NO_CLOSING_TASK; ++task) {
        const char *rest = AfterSwitch(commandLine, Switches[task]);
        // Windows Installer may leave a blank after the command it was given.
        while (rest != nullptr && *rest == ' ')
            ++rest;
        if (rest != nullptr && *rest == '\0')
            return task;
    }
    return NO_CLOSING_TASK;
}

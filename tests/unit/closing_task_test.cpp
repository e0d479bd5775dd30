// What the package's closing program is asked to do, and for which product,
// by the command line Windows Installer runs it with.
#include <gtest/gtest.h>

#include <string>

#include "installer/closer/closing_task.h"

#define PROGRAM "\"C:\\Windows\\Installer\\MSI1F.tmp\" "
#define CODE "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"
#define INSTALLED "C:\\Program Files\\Halvotren\\Halvotren.exe"

TEST(ClosingTask, EachSwitchWithItsProductAndTheRestartWithThePackagesProgram)
{
    const std::string longPath(CLOSING_PATH_SIZE, 'x');
    const struct {
        std::string line;
        int task;
        const char *program;
    } rows[] = {
        {PROGRAM "/close " CODE, CLOSE_RUNNING, ""},
        {PROGRAM "/close " CODE " ", CLOSE_RUNNING, ""},
        {"C:\\t\\MSI1F.tmp /forget " CODE, FORGET_CLOSED, ""},
        {PROGRAM "/restart " CODE " \"" INSTALLED "\"", RESTART_CLOSED, INSTALLED},
        {PROGRAM "/restart " CODE " \"" INSTALLED "\" ", RESTART_CLOSED, INSTALLED},
        // Before costing Windows Installer names no file: nothing to start.
        {PROGRAM "/restart " CODE " \"\"", RESTART_CLOSED, ""},
        {PROGRAM "/restart " CODE " \"" + longPath.substr(1) + "\"", RESTART_CLOSED, nullptr},
        {PROGRAM "/restart " CODE " \"" + longPath + "\"", NO_CLOSING_TASK, nullptr},
        // The forms of the versions that noted a path, and anything else.
        {PROGRAM, NO_CLOSING_TASK, nullptr},
        {PROGRAM "/restart", NO_CLOSING_TASK, nullptr},
        {PROGRAM "/forget", NO_CLOSING_TASK, nullptr},
        {PROGRAM CODE, NO_CLOSING_TASK, nullptr},
        {PROGRAM "/restart " CODE, NO_CLOSING_TASK, nullptr},
        {PROGRAM "/restart " CODE " " INSTALLED, NO_CLOSING_TASK, nullptr},
        {PROGRAM "/restart " CODE " \"" INSTALLED, NO_CLOSING_TASK, nullptr},
        {PROGRAM "/restart " CODE " \"" INSTALLED "\"x", NO_CLOSING_TASK, nullptr},
        {PROGRAM "/forget " CODE " \"" INSTALLED "\"", NO_CLOSING_TASK, nullptr},
        {PROGRAM "/close  " CODE, NO_CLOSING_TASK, nullptr},
        {PROGRAM "/close {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}", NO_CLOSING_TASK, nullptr},
        {PROGRAM "/close {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", NO_CLOSING_TASK, nullptr},
        {PROGRAM "/close {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}", NO_CLOSING_TASK, nullptr},
        {PROGRAM "/close {0A1B2C3D+4E5F-6071-8293-A4B5C6D7E8F9}", NO_CLOSING_TASK, nullptr},
        {PROGRAM "/close " CODE CODE, NO_CLOSING_TASK, nullptr},
        {PROGRAM "/RESTART " CODE " \"\"", NO_CLOSING_TASK, nullptr},
        {"\"unclosed /forget " CODE, NO_CLOSING_TASK, nullptr},
    };
    for (const auto &row : rows) {
        ClosingOrders orders;
        const int task = ReadClosingOrders(row.line.c_str(), &orders);
        EXPECT_EQ(row.task, task) << row.line;
        if (task == NO_CLOSING_TASK)
            continue;
        EXPECT_STREQ(CODE, orders.product) << row.line;
        if (row.program != nullptr)
            EXPECT_STREQ(row.program, orders.program) << row.line;
        else
            EXPECT_EQ(longPath.substr(1), orders.program) << row.line;
    }
}

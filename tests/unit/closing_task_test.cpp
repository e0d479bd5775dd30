// What the package's closing program is asked to do, and for which product,
// by the command line Windows Installer runs it with.
#include <gtest/gtest.h>

#include <string>

#include "installer/closer/closing_task.h"

#define PROGRAM "\"C:\\Windows\\Installer\\MSI1F.tmp\" "
#define CODE "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"
#define INSTALLED "C:\\Program Files\\Halvotren\\Halvotren.exe"

TEST(ClosingTask, EachSwitchWithItsProduct)
{
    const struct {
        std::string line;
        int task;
    } rows[] = {
        {PROGRAM "/close " CODE, CLOSE_RUNNING},
        {PROGRAM "/close " CODE " ", CLOSE_RUNNING},
        {"C:\\t\\MSI1F.tmp /forget " CODE, FORGET_CLOSED},
        {PROGRAM "/restart " CODE, RESTART_CLOSED},
        {PROGRAM "/restart " CODE "  ", RESTART_CLOSED},
        // The forms of the versions that were given a path to start, and
        // anything else.
        {PROGRAM "/restart " CODE " \"" INSTALLED "\"", NO_CLOSING_TASK},
        {PROGRAM "/restart " CODE " \"\"", NO_CLOSING_TASK},
        {PROGRAM, NO_CLOSING_TASK},
        {PROGRAM "/restart", NO_CLOSING_TASK},
        {PROGRAM "/forget", NO_CLOSING_TASK},
        {PROGRAM CODE, NO_CLOSING_TASK},
        {PROGRAM "/restart " CODE " " INSTALLED, NO_CLOSING_TASK},
        {PROGRAM "/forget " CODE " \"" INSTALLED "\"", NO_CLOSING_TASK},
        {PROGRAM "/close  " CODE, NO_CLOSING_TASK},
        {PROGRAM "/close {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}", NO_CLOSING_TASK},
        {PROGRAM "/close {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", NO_CLOSING_TASK},
        {PROGRAM "/close {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}", NO_CLOSING_TASK},
        {PROGRAM "/close {0A1B2C3D+4E5F-6071-8293-A4B5C6D7E8F9}", NO_CLOSING_TASK},
        {PROGRAM "/close " CODE CODE, NO_CLOSING_TASK},
        {PROGRAM "/RESTART " CODE, NO_CLOSING_TASK},
        {"\"unclosed /forget " CODE, NO_CLOSING_TASK},
    };
    for (const auto &row : rows) {
        char product[PRODUCT_CODE_SIZE];
        const int task = ReadClosingOrders(row.line.c_str(), product);
        EXPECT_EQ(row.task, task) << row.line;
        if (task != NO_CLOSING_TASK) {
            EXPECT_STREQ(CODE, product) << row.line;
        }
    }
}

// What the package's closing program is asked to do, by the command line
// Windows Installer runs it with.
#include <gtest/gtest.h>

#include "installer/closer/closing_task.h"

TEST(ClosingTask, NothingClosesAndEachSwitchItsTaskAlone)
{
    const struct {
        const char *line;
        int task;
    } rows[] = {
        {"\"C:\\Windows\\Installer\\MSI1F.tmp\"", CLOSE_RUNNING},
        {"\"C:\\Windows\\Installer\\MSI1F.tmp\" ", CLOSE_RUNNING},
        {"C:\\t\\MSI1F.tmp", CLOSE_RUNNING},
        {"\"C:\\Windows\\Installer\\MSI1F.tmp\" /restart", RESTART_CLOSED},
        {"\"C:\\Windows\\Installer\\MSI1F.tmp\" /restart ", RESTART_CLOSED},
        {"\"C:\\Windows\\Installer\\MSI1F.tmp\" /forget", FORGET_CLOSED},
        {"\"C:\\Windows\\Installer\\MSI1F.tmp\" /restarts", NO_CLOSING_TASK},
        {"\"C:\\Windows\\Installer\\MSI1F.tmp\" /RESTART", NO_CLOSING_TASK},
        {"\"C:\\Windows\\Installer\\MSI1F.tmp\" /restart /forget", NO_CLOSING_TASK},
        {"\"C:\\Windows\\Installer\\MSI1F.tmp\" restart", NO_CLOSING_TASK},
        {"\"unclosed /restart", NO_CLOSING_TASK},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.task, ClosingTaskOf(row.line)) << row.line;
}

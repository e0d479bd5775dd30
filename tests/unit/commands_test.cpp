// The tray shell's decisions: which icon, which tray call, which menu, and
// the texts and command lines its commands produce.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>

#include "app/commands.h"
#include "app/tray_icon.h"

TEST(TrayIcon, GreenOnlyWhenTheFirewallAndBothServicesAreUp)
{
    EXPECT_EQ(IDI_TRAY_ON, ChooseTrayIcon(1, 1));
    EXPECT_EQ(IDI_TRAY_OFF, ChooseTrayIcon(0, 1));
    EXPECT_EQ(IDI_TRAY_OFF, ChooseTrayIcon(1, 0));
    EXPECT_EQ(IDI_TRAY_OFF, ChooseTrayIcon(0, 0));  // at start, before any sample
    EXPECT_EQ(IDI_TRAY_ON, ChooseTrayIcon(-1, 7));  // any non-zero flag counts
    EXPECT_EQ(TRAY_ADD, FirstTrayCall(0));
    EXPECT_EQ(TRAY_MODIFY, FirstTrayCall(1));
}

// What each item does and says is driven through the real menu (e2e
// test_menu); here, that the window carries out its items and nothing else.
TEST(TrayMenu, OnlyItsItemsAreCommands)
{
    for (const MenuItem &item : TrayMenuItems)
        EXPECT_EQ(1, IsTrayCommand(item.identifier)) << item.text;
    for (unsigned other : {0u, 99u, 108u, 0xFFFFu})
        EXPECT_EQ(0, IsTrayCommand(other)) << other;
}

// The command lines for a real Windows directory are checked where the
// program starts them (e2e test_menu); these are the directories Wine has not.
TEST(Launchers, AnUnreadableDirectoryLeavesItEmpty)
{
    char line[260];
    FormatLaunchCommandLine(line, sizeof line, ViewLogTemplate, "");
    EXPECT_STREQ("\\notepad.exe \\pfirewall.log", line);
}

TEST(Launchers, ALongDirectoryIsCutAndStaysTerminated)
{
    std::string directory(200, 'd');
    char line[260];
    memset(line, 'x', sizeof line);
    FormatLaunchCommandLine(line, sizeof line, ConfigureTemplate, directory.c_str());
    EXPECT_EQ(259u, strlen(line));
    EXPECT_EQ(0, strncmp(line, directory.c_str(), 200));
}

// The box's text is read from the running program (e2e test_menu).
TEST(About, IsCutToASmallBuffer)
{
    char small[16];
    FormatAboutText(small, sizeof small, 1.05);
    EXPECT_STREQ("Halvotren\nVersi", small);
}

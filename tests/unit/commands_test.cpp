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

TEST(TrayMenu, ItemsInOrderAndOnlyTheirIdentifiersAreCommands)
{
    const char *texts[] = {"View Log", "Configure", "Start Windows Firewall", "Stop Windows Firewall",
                           "Help", "Check for Updates", "About This Program", "Exit"};
    const int identifiers[] = {106, 105, 104, 103, 102, 107, 101, 100};
    for (int i = 0; i < 8; ++i) {
        EXPECT_STREQ(texts[i], TrayMenuItems[i].text);
        EXPECT_EQ(identifiers[i], TrayMenuItems[i].identifier);
    }
    EXPECT_FALSE(IsTrayCommand(0));
    EXPECT_FALSE(IsTrayCommand(99));
    for (unsigned id = CMD_EXIT; id <= CMD_CHECK_UPDATES; ++id)
        EXPECT_TRUE(IsTrayCommand(id)) << id;
    EXPECT_FALSE(IsTrayCommand(108));
    EXPECT_FALSE(IsTrayCommand(0xFFFF));
}

TEST(Launchers, CommandLinesForTheWindowsDirectory)
{
    char line[260];
    FormatLaunchCommandLine(line, sizeof line, ConfigureTemplate, "C:\\WINDOWS");
    EXPECT_STREQ("C:\\WINDOWS\\system32\\rundll32.exe C:\\WINDOWS\\system32\\shell32.dll,"
                 "Control_RunDLL firewall.cpl,Windows Firewall",
                 line);
    FormatLaunchCommandLine(line, sizeof line, ViewLogTemplate, "C:\\WINDOWS");
    EXPECT_STREQ("C:\\WINDOWS\\notepad.exe C:\\WINDOWS\\pfirewall.log", line);
    // An unreadable directory leaves it empty.
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

TEST(About, NamesTheVersionAndEndsWithoutALineBreak)
{
    char text[1024];
    FormatAboutText(text, sizeof text, 1.05);
    std::string about = text;
    EXPECT_EQ(0u, about.find("Halvotren\nVersion 1.05\nBy: "));
    EXPECT_NE('\n', about.back());
    EXPECT_EQ(3, std::count(about.begin(), about.end(), '\n'));
    char small[16];
    FormatAboutText(small, sizeof small, 1.05);
    EXPECT_STREQ("Halvotren\nVersi", small);
}

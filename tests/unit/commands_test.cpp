// The tray shell's decisions: which icon, which tray call, which menu, and
// the texts and command lines its commands produce.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>

#include "app/commands.h"
#include "watch/firewall_path.h"
#include "app/tray_icon.h"

TEST(TrayIcon, GreenOnlyWhenTheFirewallAndBothServicesAreUpAsAFinishedCheckFoundThem)
{
    const struct {
        int firewallOn, servicesUp;
        unsigned callStarted, now;
        int icon;
    } rows[] = {
        {1, 1, 0, 5000, IDI_TRAY_ON},
        {0, 1, 0, 5000, IDI_TRAY_OFF},
        {1, 0, 0, 5000, IDI_TRAY_OFF},
        {0, 0, 0, 5000, IDI_TRAY_OFF},  // at start, before any sample
        {-1, 7, 0, 5000, IDI_TRAY_ON},  // any non-zero flag counts
        // A call under way: green for 10 s, then a failed check.
        {1, 1, 1001, 11000, IDI_TRAY_ON},
        {1, 1, 1001, 11001, IDI_TRAY_OFF},
        {1, 1, 1001, 900000, IDI_TRAY_OFF},
        {0, 1, 1001, 1002, IDI_TRAY_OFF},
        // Across the tick's wrap after 49 days, and a mark a tick newer
        // than the clock the window read.
        {1, 1, 0xFFFFE001u, 0x00001000u, IDI_TRAY_OFF},
        {1, 1, 0xFFFFFF01u, 0x00000100u, IDI_TRAY_ON},
        {1, 1, 5001, 5000, IDI_TRAY_ON},
    };
    // The monitor's call and a Start's or Stop's count alike, each alone.
    for (const auto &row : rows) {
        EXPECT_EQ(row.icon, ChooseTrayIcon(row.firewallOn, row.servicesUp, row.callStarted, 0, row.now))
            << row.firewallOn << " " << row.servicesUp << " " << row.callStarted << " " << row.now;
        EXPECT_EQ(row.icon, ChooseTrayIcon(row.firewallOn, row.servicesUp, 0, row.callStarted, row.now))
            << row.firewallOn << " " << row.servicesUp << " command " << row.callStarted << " " << row.now;
    }
    // A stalled one is not hidden by the other's fresh mark.
    EXPECT_EQ(IDI_TRAY_OFF, ChooseTrayIcon(1, 1, 1001, 11000, 11001));
    EXPECT_EQ(IDI_TRAY_OFF, ChooseTrayIcon(1, 1, 11000, 1001, 11001));
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
    FormatLaunchCommandLine(line, sizeof line, FirewallPathOf(PATH_XP)->viewLogTemplate, "");
    EXPECT_STREQ("\\notepad.exe \\pfirewall.log", line);
}

TEST(Launchers, ALongDirectoryIsCutAndStaysTerminated)
{
    std::string directory(200, 'd');
    char line[260];
    memset(line, 'x', sizeof line);
    FormatLaunchCommandLine(line, sizeof line, FirewallPathOf(PATH_XP)->configureTemplate, directory.c_str());
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

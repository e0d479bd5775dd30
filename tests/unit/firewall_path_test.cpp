// Which firewall the program takes, and the later one's decisions: the
// paths that Wine cannot show (a consent prompt, a filtered token) take
// these as they are.
#include <gtest/gtest.h>

#include <string.h>

#include "watch/firewall_path.h"

TEST(FirewallPath, OnlyAPolicyClassThatIsNotThereMeansXp)
{
    const struct {
        unsigned long result;
        int path;
    } rows[] = {
        {0x00000000ul, PATH_LATER},  // created
        {0x80004001ul, PATH_LATER},  // E_NOTIMPL: there, failing now
        {0x80004005ul, PATH_LATER},  // E_FAIL: asked again every 5 s
        {0x80070005ul, PATH_LATER},  // E_ACCESSDENIED
        {0x80040154ul, PATH_XP},     // REGDB_E_CLASSNOTREG: XP SP2
        {0x80040111ul, PATH_XP},     // CLASS_E_CLASSNOTAVAILABLE
        {0x80004002ul, PATH_XP},     // E_NOINTERFACE
        {0x8007007Eul, PATH_XP},     // the class's library missing
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.path, PathForPolicyCreation((long)row.result)) << std::hex << row.result;
}

TEST(FirewallPath, EachPathNamesItsServicesAndCommandLines)
{
    const FirewallPath *xp = FirewallPathOf(PATH_XP);
    const FirewallPath *later = FirewallPathOf(PATH_LATER);
    EXPECT_STREQ("SharedAccess", xp->firewallService);
    EXPECT_STREQ("IpNat", xp->helperService);
    EXPECT_EQ(nullptr, xp->logTemplate);
    EXPECT_STREQ("MpsSvc", later->firewallService);
    EXPECT_STREQ("BFE", later->helperService);
    EXPECT_STREQ("Warning, critical firewall services have been stopped!\n\n"
                 "Please restart the SharedAccess service and IpNat Service or\n"
                 "contact your System Administrator immediately.", xp->servicesWarning);
    EXPECT_STREQ("Warning, critical firewall services have been stopped!\n\n"
                 "Please restart the Windows Firewall (MpsSvc) and Base Filtering Engine (BFE) services "
                 "or contact your System Administrator immediately.", later->servicesWarning);
    EXPECT_STREQ("%s\\system32\\control.exe /name Microsoft.WindowsFirewall", later->configureTemplate);
    // Exempt from the WOW64 redirector: the same path for 32-bit programs.
    EXPECT_STREQ("%s\\system32\\LogFiles\\Firewall\\pfirewall.log", later->logTemplate);
    EXPECT_STREQ("%s\\notepad.exe %s\\system32\\LogFiles\\Firewall\\pfirewall.log", later->viewLogTemplate);
    // Not yet decided is XP's, as the program was before it knew better.
    EXPECT_EQ(xp, FirewallPathOf(PATH_UNDECIDED));
}

TEST(FirewallPath, OnOnlyWhenEveryProfileInForceIsEnabled)
{
    const struct {
        long inForce, enabled;
        int on;
    } rows[] = {
        {PROFILE2_PRIVATE, PROFILE2_PRIVATE, 1},
        {PROFILE2_PRIVATE, PROFILE2_EACH & ~PROFILE2_PRIVATE, 0},
        {PROFILE2_DOMAIN | PROFILE2_PUBLIC, PROFILE2_DOMAIN | PROFILE2_PUBLIC, 1},
        {PROFILE2_DOMAIN | PROFILE2_PUBLIC, PROFILE2_DOMAIN, 0},  // one network unprotected
        {PROFILE2_DOMAIN | PROFILE2_PUBLIC, PROFILE2_PUBLIC, 0},
        {PROFILE2_EACH, PROFILE2_EACH, 1},
        {0, PROFILE2_EACH, 0},                                    // none in force: no reading
        {0x8 | PROFILE2_PUBLIC, PROFILE2_PUBLIC, 1},              // bits of no profile
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.on, EveryProfileInForceOn(row.inForce, row.enabled)) << row.inForce << " " << row.enabled;
}

TEST(FirewallPath, TheCopyActsOnItsOneExactArgumentAlone)
{
    const struct {
        const char *line;
        int wanted;
    } rows[] = {
        {"\"C:\\Program Files\\Halvotren\\Halvotren.exe\" on", 1},
        {"\"C:\\Program Files\\Halvotren\\Halvotren.exe\" off", 0},
        {"C:\\Halvotren.exe on", 1},
        {"C:\\Halvotren.exe   off", 0},
        {"\"C:\\Halvotren.exe\" on ", SWITCH_REFUSED},
        {"\"C:\\Halvotren.exe\" on off", SWITCH_REFUSED},
        {"\"C:\\Halvotren.exe\" off /x", SWITCH_REFUSED},
        {"\"C:\\Halvotren.exe\" ON", SWITCH_REFUSED},
        {"\"C:\\Halvotren.exe\" Off", SWITCH_REFUSED},
        {"\"C:\\Halvotren.exe\" on\tx", SWITCH_REFUSED},
        {"\"C:\\Halvotren.exe\"", SWITCH_NOT_ASKED},
        {"\"C:\\Halvotren.exe\" ", SWITCH_NOT_ASKED},
        {"\"C:\\Halvotren.exe\" /installed", SWITCH_NOT_ASKED},
        {"\"C:\\Halvotren.exe\" offline", SWITCH_REFUSED},
        {"\"C:\\Halvotren.exe\" x on", SWITCH_NOT_ASKED},
        {"\"C:\\on off", SWITCH_NOT_ASKED},  // an unclosed quote
        {"on", SWITCH_NOT_ASKED},            // the program's own name
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.wanted, ConsentedSwitchWanted(row.line)) << row.line;
}

TEST(FirewallPath, TheLogsRefusalSaysWhy)
{
    EXPECT_NE(nullptr, strstr(LogRefusalText, "off by default"));
    EXPECT_NE(nullptr, strstr(LogRefusalText, "administrator"));
}

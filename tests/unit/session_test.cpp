// A program the installation started goes on only in the logon session of
// the desktop it runs on.
#include <gtest/gtest.h>

#include <vector>

#include "core/session.h"

namespace {

// S-1-5-5-0-<n>: a logon session's SID, 20 bytes.
std::vector<unsigned char> LogonSid(unsigned char n)
{
    return {1, 3, 0, 0, 0, 0, 0, 5, 5, 0, 0, 0, 0, 0, 0, 0, n, 0, 0, 0};
}

// S-1-5-32-545, Users, and S-1-1-0, Everyone: groups of every token.
const std::vector<unsigned char> kUsers = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
const std::vector<unsigned char> kEveryone = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
const unsigned long kEnabled = 0x7;  // mandatory, enabled by default, enabled

int GoesOn(const std::vector<TokenGroup> &groups, const std::vector<unsigned char> &station,
           unsigned long error = 0)
{
    return GoesOnAfterInstallation(groups.data(), groups.size(), station.data(), station.size(), error);
}

}  // namespace

TEST(InstalledStart, GoesOnOnlyInTheDesktopsLogonSession)
{
    const std::vector<unsigned char> desktop = LogonSid(1), runAs = LogonSid(2);
    const std::vector<TokenGroup> user = {{kEveryone.data(), kEnabled},
                                          {desktop.data(), kEnabled | LOGON_SESSION_GROUP},
                                          {kUsers.data(), kEnabled}};
    EXPECT_TRUE(GoesOn(user, desktop));
    // "Run as" logs on anew: the token's session is not the desktop's.
    const std::vector<TokenGroup> administrator = {{kEveryone.data(), kEnabled},
                                                   {runAs.data(), kEnabled | LOGON_SESSION_GROUP}};
    EXPECT_FALSE(GoesOn(administrator, desktop));
    // The desktop's SID among the groups, but not as the logon group.
    EXPECT_FALSE(GoesOn({{desktop.data(), kEnabled}, {runAs.data(), kEnabled | LOGON_SESSION_GROUP}}, desktop));
    // No logon group at all, or no groups.
    EXPECT_FALSE(GoesOn({{kEveryone.data(), kEnabled}, {desktop.data(), 0x40000000ul}}, desktop));
    EXPECT_FALSE(GoesOnAfterInstallation(nullptr, 0, desktop.data(), desktop.size(), 0));
    // A station SID that differs in its length or in its last byte only.
    EXPECT_FALSE(GoesOn(user, kUsers));
    EXPECT_FALSE(GoesOn(user, std::vector<unsigned char>(desktop.begin(), desktop.end() - 4)));
    // A window station without a user.
    EXPECT_FALSE(GoesOn(user, {}));
}

TEST(InstalledStart, AStationThatCannotBeAskedEndsItUnlessTheSystemHasNoSessions)
{
    const std::vector<unsigned char> desktop = LogonSid(1);
    const std::vector<TokenGroup> user = {{desktop.data(), kEnabled | LOGON_SESSION_GROUP}};
    // ERROR_INVALID_PARAMETER: a system that keeps no logon sessions.
    EXPECT_TRUE(GoesOn(user, desktop, NO_LOGON_SESSIONS));
    EXPECT_TRUE(GoesOnAfterInstallation(nullptr, 0, nullptr, 0, NO_LOGON_SESSIONS));
    // Access denied, a bad handle, too small a buffer, anything else.
    for (unsigned long error : {5ul, 6ul, 122ul, 1ul, 0xFFFFFFFFul})
        EXPECT_FALSE(GoesOn(user, desktop, error)) << error;
}

TEST(InstalledStart, FindsTheLogonGroupAmongMany)
{
    // A domain user's token: a hundred groups, the logon session's last.
    std::vector<std::vector<unsigned char>> sids;
    for (unsigned char n = 0; n < 100; ++n)
        sids.push_back({1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, n, 1, 0, 0, 2, 2, 0, 0, 3, 3, 0, 0, 0, 4, 0, 0});
    std::vector<TokenGroup> groups;
    for (const auto &sid : sids)
        groups.push_back({sid.data(), kEnabled});
    const std::vector<unsigned char> desktop = LogonSid(7);
    groups.push_back({desktop.data(), kEnabled | LOGON_SESSION_GROUP});
    EXPECT_TRUE(GoesOn(groups, desktop));
    EXPECT_FALSE(GoesOn(groups, LogonSid(8)));
}

// The watch's state tables: what each observation does to a flag, and when
// the user is warned.
#include <gtest/gtest.h>

#include "watch/transitions.h"

namespace {

struct Row {
    int flag;
    int observation;
    int before;
    int warn;
    int after;
};

void ExpectRows(WatchDecision (*decide)(int, int), const Row *rows, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        WatchDecision d = decide(rows[i].flag, rows[i].observation);
        SCOPED_TRACE(testing::Message() << "flag " << rows[i].flag << ", observation " << rows[i].observation);
        EXPECT_EQ(rows[i].before, d.flagBeforeWarning);
        EXPECT_EQ(rows[i].warn, d.warn);
        if (d.warn) {
            EXPECT_EQ(rows[i].after, d.flagAfterWarning);
        }
    }
}

TEST(FirewallWatch, WarnsOnlyOnAFallAndKeepsTheFlagUntilDismissed)
{
    const Row rows[] = {
        {0, 1, 1, 0, 1},  // switched on: no message
        {0, 0, 0, 0, 0},  // already off at start: no warning
        {1, 1, 1, 0, 1},
        // The fall: the flag is left alone while the box is open, so a failed
        // read by a Start or Stop meanwhile still turns the icon red.
        {1, 0, FLAG_KEPT, 1, 0},
    };
    ExpectRows(DecideFirewallWatch, rows, sizeof rows / sizeof rows[0]);
}

TEST(ServicesWatch, WarnsOnlyOnAFallAndDropsTheFlagFirst)
{
    const Row rows[] = {
        {0, 1, 1, 0, 1},
        {0, 0, 0, 0, 0},  // down at start: no warning
        {1, 1, 1, 0, 1},
        {1, 0, 0, 1, 0},  // the fall: icon may turn red while the box is open
    };
    ExpectRows(DecideServicesWatch, rows, sizeof rows / sizeof rows[0]);
}

TEST(Watch, OneWarningPerFallOverAFlappingSequence)
{
    const int observations[] = {0, 0, 1, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    for (auto decide : {DecideFirewallWatch, DecideServicesWatch}) {
        int flag = 0;
        int warnings = 0;
        for (int seen : observations) {
            WatchDecision d = decide(flag, seen);
            if (d.flagBeforeWarning != FLAG_KEPT)
                flag = d.flagBeforeWarning;
            if (d.warn)
                flag = d.flagAfterWarning;
            warnings += d.warn;
        }
        EXPECT_EQ(3, warnings);
        EXPECT_EQ(0, flag);
    }
}

}  // namespace

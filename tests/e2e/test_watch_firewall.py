"""The monitor's firewall half, seen through the tray icon and the boxes."""
import time
import unittest

from bed import (DOMAIN, DOMAIN2, PRIVATE2, PUBLIC2, STANDARD, WIN7, WIN10, BedTestCase, TrayMixin,
                 firewall_events, firewall_log, firewall_value, profile_references, set_firewall, tray_colour,
                 wait_until)

WARNING = "Firewall Warning!"


def xp_only(test):
    """A row about XP's profile object, which the later firewall has not."""
    def run(self):
        if self.later:
            self.skipTest("XP's firewall alone")
        test(self)
    run.__name__ = test.__name__
    return run


class FirewallWatch(BedTestCase, TrayMixin):
    def test_firewall_off_at_start_gives_no_warning_until_it_falls_again(self):
        set_firewall(enabled=0)
        self.start_program()
        self.wait_monitor_cycles(5)
        # One read a cycle of 2 s; a busy machine only makes the gaps longer,
        # and only some of them, so their median stays under 3 s, where a
        # cycle of 4 s makes every one 4 s.
        reads = self.monitor_reads()
        gaps = [b - a for a, b in zip(reads, reads[1:])]
        self.assertTrue(all(gap >= 1500 for gap in gaps), "read the firewall too often: %r ms apart" % gaps)
        self.assertLess(sorted(gaps)[len(gaps) // 2], 3000, "read the firewall too seldom: %r ms apart" % gaps)
        self.wait_tray("red")
        self.assertEqual(0, self.box_count(WARNING))

        set_firewall(enabled=1)
        self.wait_tray("green")
        self.assertEqual(0, self.box_count(WARNING))

        set_firewall(enabled=0)
        box = self.box(WARNING)
        self.assertEqual("Windows Firewall has been Disabled\n", box["text"])
        self.assertEqual(0, box["owner"], "the warning has no owner window")
        self.assertEqual([1], box["buttons"])

    def test_each_fall_warns_once_and_the_icon_stays_green_until_dismissed(self):
        self.start_program()
        self.wait_tray("green")
        for fall in range(2):
            set_firewall(enabled=0)
            self.box(WARNING)
            reads = len(self.monitor_reads())
            # The box blocks the monitor; firewallOn keeps its 1 meanwhile,
            # however long the user leaves it open: no call is under way.
            self.assert_tray_stays("green", 12 if fall == 0 else 3, "the open warning turned the icon red")
            self.assertEqual(reads, len(self.monitor_reads()), "the monitor sampled behind its box")
            self.assertEqual(1, self.box_count(WARNING))
            self.press(WARNING)
            self.wait_tray("red")
            self.wait_monitor_cycles(2)
            self.assertEqual(0, self.box_count(WARNING), "a second warning for the same fall")
            set_firewall(enabled=1)
            self.wait_tray("green")

    def test_failed_reads_turn_the_icon_red_without_a_warning(self):
        self.start_program()
        self.wait_tray("green")
        set_firewall(read_fails=1)
        self.wait_tray("red")
        self.wait_monitor_cycles(2)
        self.assertEqual(0, self.box_count(WARNING))
        # A fall already recorded by a failed read is not warned about.
        set_firewall(enabled=0, read_fails=0)
        self.wait_monitor_cycles(2)
        self.assertEqual(0, self.box_count(WARNING))
        set_firewall(enabled=1)
        self.wait_tray("green")

    def test_a_call_that_does_not_return_is_a_failed_check(self):
        # Each call the monitor makes into the firewall: the read, the type
        # in force every cycle, and the profile in force and its type when
        # that type changes (both profiles on, so no fall).
        # On the later firewall: the bitmask of the profiles in force and
        # the read of each.
        self.start_program()
        self.wait_tray("green")
        calls = (("read", {}), ("profile_type", {}), ("current_profile", {"profile_in_force": DOMAIN}),
                 ("type", {"profile_in_force": STANDARD}))
        if self.later:
            calls = (("read", {}), ("profile_types", {"profiles_in_force": DOMAIN2 | PUBLIC2}))
        for call, change in calls:
            with self.subTest(call=call):
                hangs = call + "_hangs"
                self.addCleanup(set_firewall, **{hangs: 0})
                begun = len(firewall_events(call + "_hang_begin"))
                set_firewall(**{hangs: 1}, **change)
                wait_until(lambda: len(firewall_events(call + "_hang_begin")) > begun, 20,
                           what="the monitor's %s to block" % call)
                blocked = time.monotonic()
                # Only the call's own time counts, from 10 s on: red at the next tick.
                self.assert_tray_stays("green", 8, "a call turned the icon red before 10 s")
                wait_until(lambda: tray_colour() == "red", blocked + 13 - time.monotonic(),
                           what="a red icon 13 s into a blocked %s" % call)
                self.assertEqual(0, self.box_count(WARNING))
                set_firewall(**{hangs: 0})
                self.wait_tray("green", 5)
                self.assertEqual(0, self.box_count(WARNING))

    @xp_only
    def test_the_profile_in_force_is_the_one_watched_and_switched(self):
        # The domain profile, its firewall off, comes into force: a fall.
        set_firewall(domain_enabled=0)
        self.start_program()
        self.wait_tray("green")
        set_firewall(profile_in_force=DOMAIN)
        self.box(WARNING)
        self.press(WARNING)
        self.wait_tray("red")
        self.wait_monitor_cycles(2)
        self.assertEqual(0, self.box_count(WARNING), "warned twice for one fall")
        # Start switches the domain profile on and leaves the standard alone.
        self.command(104)
        wait_until(lambda: firewall_events("put_FirewallEnabled"), 20, what="Start to switch the profile in force")
        self.assertEqual(["put_FirewallEnabled 1 ok domain"], firewall_events("put_FirewallEnabled"))
        self.assertEqual((1, 1), (firewall_value("domain_enabled"), firewall_value("enabled")))
        self.wait_tray("green")
        # Back on the standard profile, whose firewall is off now.
        set_firewall(enabled=0, profile_in_force=STANDARD)
        self.box(WARNING)
        self.press(WARNING)
        self.wait_tray("red")
        # Each profile released once the other was held, and never used after.
        events = firewall_events()
        self.assertFalse([e for e in events if e.startswith("USE_AFTER_RELEASE")], events)
        self.assertEqual({"domain": 0, "standard": 1}, profile_references(), "a profile held after the switch")

    @xp_only
    def test_a_failed_query_of_the_profile_in_force_keeps_the_profile_held(self):
        self.start_program()
        self.wait_tray("green")
        held = profile_references()
        before = firewall_events("get_LocalPolicy") + firewall_events("profile_")
        set_firewall(profile_type_fails=1)
        self.assert_tray_stays("green", 6, "a failed query changed the colour")
        wait_until(lambda: len(firewall_events("get_CurrentProfileType failed")) >= 3, 20,
                   what="three failed queries")
        self.assertEqual("green", tray_colour())
        self.assertEqual(before, firewall_events("get_LocalPolicy") + firewall_events("profile_"),
                         "a failed query acquired or published the profile again")
        self.assertEqual(held, profile_references())
        self.assertEqual(0, self.box_count(WARNING))

    def test_an_unreachable_firewall_is_asked_again_every_five_seconds(self):
        set_firewall(create_fails=2)
        self.start_program()
        self.wait_tray("green", 30)
        attempts = [tick for (tick, _, event) in firewall_log() if event in ("create", "create_failed")]
        self.assertEqual(["create_failed", "create_failed", "create"],
                         [e for e in firewall_events("create")][:3])
        gaps = [b - a for a, b in zip(attempts, attempts[1:])]
        self.assertTrue(all(gap >= 4500 for gap in gaps[:2]), "retried too soon: %r" % gaps)
        self.assertEqual(0, self.box_count(WARNING))

    def test_a_firewall_unreachable_for_fifteen_seconds_is_waited_for_quietly(self):
        set_firewall(unreachable_until=int(time.time()) + 15)
        self.start_program()
        self.wait_tray("red")
        wait_until(lambda: "create" in firewall_events("create"), 40, what="the manager to be created")
        self.wait_tray("green")
        self.assertGreaterEqual(firewall_events("create").count("create_failed"), 2)
        self.assertEqual(0, self.box_count(WARNING))
        self.assertEqual(0, self.box_count("Firewall Warning"))


class FirewallWatchOnWindows10(FirewallWatch):
    WINDOWS = WIN10


class LaterFirewallWatch(BedTestCase, TrayMixin):
    """The firewall of Vista and later: every profile in force, read anew
    each cycle."""

    WINDOWS = WIN7

    def test_one_of_two_profiles_in_force_off_is_a_fall_warned_once(self):
        set_firewall(profiles_in_force=DOMAIN2 | PUBLIC2)
        self.start_program()
        self.wait_tray("green")
        self.assertIn("get_CurrentProfileTypes 5", firewall_events("get_CurrentProfileTypes"))
        set_firewall(public_enabled=0)
        box = self.box(WARNING)
        self.assertEqual("Windows Firewall has been Disabled\n", box["text"])
        self.assert_tray_stays("green", 2, "the open warning turned the icon red")
        self.press(WARNING)
        self.wait_tray("red")
        self.wait_monitor_cycles(2)
        self.assertEqual(0, self.box_count(WARNING), "a second warning for the same fall")
        # Only the profiles in force are read, each by its own type.
        self.assertEqual({"domain", "public"},
                         {e.split()[-1] for e in firewall_events("get_FirewallEnabled ok")})
        set_firewall(public_enabled=1)
        self.wait_tray("green")

    def test_a_profile_coming_into_force_with_its_firewall_off_is_a_fall(self):
        set_firewall(public_enabled=0)
        self.start_program()
        self.wait_tray("green")
        # Into a profile that is on: no fall.
        set_firewall(profiles_in_force=PRIVATE2 | DOMAIN2)
        wait_until(lambda: "get_FirewallEnabled ok 1 domain" in firewall_events("get_FirewallEnabled"), 20,
                   what="the domain profile to be read")
        self.assert_tray_stays("green", 3)
        self.assertEqual(0, self.box_count(WARNING))
        # Into one that is off, alone: warned.
        set_firewall(profiles_in_force=PUBLIC2)
        self.box(WARNING)
        self.press(WARNING)
        self.wait_tray("red")
        # Back, and into it again with another beside it: warned once more.
        set_firewall(profiles_in_force=PRIVATE2)
        self.wait_tray("green")
        set_firewall(profiles_in_force=PRIVATE2 | PUBLIC2)
        self.box(WARNING)
        self.press(WARNING)
        self.wait_tray("red")
        self.assertEqual([], firewall_events("get_FirewallEnabled BAD"))

    def test_a_failed_query_of_the_profiles_in_force_is_a_failed_check(self):
        self.start_program()
        self.wait_tray("green")
        set_firewall(profile_types_fails=1)
        self.wait_tray("red")
        wait_until(lambda: len(firewall_events("get_CurrentProfileTypes failed")) >= 3, 20,
                   what="three failed queries")
        self.assertEqual(0, self.box_count(WARNING))
        set_firewall(profile_types_fails=0)
        self.wait_tray("green")
        self.assertEqual(0, self.box_count(WARNING))


class LaterFirewallWatchOnWindows10(LaterFirewallWatch):
    WINDOWS = WIN10


if __name__ == "__main__":
    unittest.main()

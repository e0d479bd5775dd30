"""The monitor's firewall half, seen through the tray icon and the boxes."""
import time
import unittest

from bed import BedTestCase, TrayMixin, firewall_events, firewall_log, set_firewall, wait_until

WARNING = "Firewall Warning!"


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
        for _ in range(2):
            set_firewall(enabled=0)
            self.box(WARNING)
            reads = len(self.monitor_reads())
            # The box blocks the monitor; firewallOn keeps its 1 meanwhile.
            self.assert_tray_stays("green", 3)
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


if __name__ == "__main__":
    unittest.main()

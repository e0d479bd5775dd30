"""Start and Stop through the window's commands 104 and 103, where they
change nothing, fail or wait; the menu scenario switches the firewall both
ways. Each runs on a thread of its own, never the window's."""
import time
import unittest

from bed import (DOMAIN, BedTestCase, TrayMixin, command_events, delete_service, ensure_service_exists,
                 firewall_events, firewall_log, firewall_value, set_firewall, tray_colour, wait_until)

START, STOP = 104, 103
NOTICE = "Firewall Notice"
WARNING = "Firewall Warning!"


class FirewallCommands(BedTestCase, TrayMixin):
    def command_reads(self):
        return command_events("get_FirewallEnabled")

    def run_and_wait(self, identifier):
        """Sends the command and waits until it has read the firewall."""
        before = len(self.command_reads())
        self.command(identifier)
        wait_until(lambda: len(self.command_reads()) > before, 20, what="the command's read")

    def test_start_while_on_and_stop_while_off_change_nothing(self):
        self.start_program()
        self.wait_tray("green")
        self.run_and_wait(START)
        set_firewall(enabled=0)
        self.box("Firewall Warning!")
        self.press("Firewall Warning!")
        self.wait_tray("red")
        self.run_and_wait(STOP)
        self.sync_with_window()
        self.assertEqual(0, self.box_count(NOTICE))
        self.assertEqual([], firewall_events("put_FirewallEnabled"))

    def test_refused_switches_show_their_notices(self):
        set_firewall(enabled=0, switch_refused=1)
        self.start_program()
        self.wait_monitor_cycles(1)
        for identifier, text, state in ((START, "Unable to start firewall", 0),
                                        (STOP, "Unable to stop firewall", 1)):
            set_firewall(enabled=state)
            self.wait_tray("green" if state else "red")
            self.command(identifier)
            box = self.box(NOTICE)
            self.assertEqual(text, box["text"])
            self.assertEqual(0, box["owner"])
            self.assertEqual([1], box["buttons"])
            if state:
                # A notice left open is no call under way: past the stall
                # limit the icon is still the green of a firewall that is on.
                self.assert_tray_stays("green", 12)
            self.press(NOTICE)
            self.assertEqual(state, firewall_value("enabled"))
            self.assertEqual(0, self.box_count(NOTICE))
        self.assertEqual(0, self.box_count("Firewall Warning!"))

    def test_a_failed_read_during_start_is_silent_and_switches_nothing(self):
        set_firewall(enabled=0)
        self.start_program()
        self.wait_monitor_cycles(1)
        set_firewall(read_fails=1)
        self.run_and_wait(START)
        self.assertEqual(["get_FirewallEnabled failed"], self.command_reads())
        self.wait_tray("red")
        self.assertEqual([], firewall_events("put_FirewallEnabled"))
        self.assertEqual(0, self.box_count(NOTICE))
        set_firewall(read_fails=0, enabled=1)
        self.wait_tray("green")

    def test_a_command_racing_the_monitors_clean_up_never_uses_a_released_profile(self):
        # IpNat missing makes the monitor give up right after publishing the
        # profile; its clean-up is held at the manager's release until the
        # command is inside the profile, and a slow read keeps it there while
        # the clean-up goes on.
        self.addCleanup(ensure_service_exists, "IpNat")
        delete_service("IpNat")
        set_firewall(enabled=0, manager_release_held=1, read_delay_ms=5000)
        self.start_program()
        wait_until(lambda: firewall_events("manager_release_begin"), 20, what="the profile to be published")
        self.command(START)
        wait_until(lambda: firewall_events("read_delay_begin"), 20, what="the command to read the firewall")
        set_firewall(manager_release_held=0)
        wait_until(lambda: "profile_release 0 standard" in firewall_events("profile_release")
                   and "put_FirewallEnabled 1 ok standard" in firewall_events("put_"), 30,
                   what="the command and the monitor's clean-up to finish")
        events = [e for (_, _, e) in firewall_log()]
        self.assertFalse([e for e in events if e.startswith("USE_AFTER_RELEASE")], events)
        self.assertIn("put_FirewallEnabled 1 ok standard", events)
        self.assertLess(events.index("put_FirewallEnabled 1 ok standard"), events.index("profile_release 0 standard"))
        # Once released, commands find no profile: the switch cannot be made.
        self.command(STOP)
        self.assertEqual("Unable to stop firewall", self.box(NOTICE)["text"])
        self.press(NOTICE)
        self.assertEqual(1, len(firewall_events("put_FirewallEnabled")))

    def test_a_switch_before_the_firewall_can_be_reached_says_it_cannot_be_made(self):
        # At logon the monitor may still be waiting for the firewall.
        set_firewall(unreachable_until=time.time() + 600)
        self.start_program()
        wait_until(lambda: firewall_events("create_failed"), 20, what="the monitor to try the firewall")
        self.command(START)
        self.assertEqual("Unable to start firewall", self.box(NOTICE)["text"])
        self.press(NOTICE)
        self.assertEqual([], firewall_events("put_FirewallEnabled"))

    def test_a_command_borrowing_the_profile_as_the_monitor_lets_it_go_holds_its_own_reference(self):
        # The monitor gives up right after publishing the profile (IpNat
        # missing); the command's AddRef is held, and the clean-up let go
        # meanwhile: it must wait for the borrow, since the profile it
        # releases is the one being borrowed.
        self.addCleanup(ensure_service_exists, "IpNat")
        delete_service("IpNat")
        set_firewall(enabled=0, manager_release_held=1, addref_held=1)
        self.start_program()
        wait_until(lambda: firewall_events("manager_release_begin"), 20, what="the profile to be published")
        self.command(START)
        wait_until(lambda: firewall_events("addref_hold_begin"), 20, what="the command to borrow the profile")
        set_firewall(manager_release_held=0)
        wait_until(lambda: firewall_events("manager_release_end"), 20, what="the clean-up to go on")
        # A clean-up that does not wait releases the profile at once.
        try:
            wait_until(lambda: "profile_release 0 standard" in firewall_events("profile_release"), 3)
        except AssertionError:
            pass
        set_firewall(addref_held=0)
        wait_until(lambda: "profile_release 0 standard" in firewall_events("profile_release")
                   and firewall_events("put_FirewallEnabled 1"), 30,
                   what="the command and the monitor's clean-up to finish")
        self.assertEqual(["put_FirewallEnabled 1 ok standard"], firewall_events("put_FirewallEnabled"))

    def test_a_stop_the_firewall_does_not_answer_is_a_stalled_check_and_goes_through_later(self):
        self.start_program()
        self.wait_tray("green")
        self.addCleanup(set_firewall, switch_hangs=0)
        set_firewall(switch_hangs=1)
        self.command(STOP)
        wait_until(lambda: firewall_events("switch_hang_begin"), 20, what="the Stop to wait on the firewall")
        blocked = time.monotonic()
        # One Start or Stop at a time: these are not carried out, then or later.
        self.command(START)
        self.command(STOP)
        # The monitor reads the firewall on meanwhile; the Stop that waits
        # 10 s is what turns the icon red, at the next tick.
        wait_until(lambda: tray_colour() == "red", blocked + 12 - time.monotonic(),
                   what="a red icon 12 s into a Stop that does not return")
        self.assertEqual(0, self.box_count(WARNING))
        set_firewall(switch_hangs=0)
        # The Stop asked for is carried out, and its fall warned about.
        self.box(WARNING)
        self.assertEqual(0, firewall_value("enabled"))
        self.press(WARNING)
        self.wait_tray("red")
        self.sync_with_window()
        self.wait_monitor_cycles(2)
        self.assertEqual(["put_FirewallEnabled 0 ok standard"], firewall_events("put_FirewallEnabled"))
        self.assertEqual(0, firewall_value("enabled"))

    def test_a_switch_of_the_profile_in_force_under_a_refused_stops_notice_is_warned(self):
        # The notice holds nothing the monitor needs: the domain profile,
        # its firewall off, comes into force, and that fall is warned about.
        set_firewall(domain_enabled=0, switch_refused=1)
        self.start_program()
        self.wait_tray("green")
        self.command(STOP)
        self.assertEqual("Unable to stop firewall", self.box(NOTICE)["text"])
        set_firewall(profile_in_force=DOMAIN)
        box = self.box(WARNING, timeout=20)
        self.assertEqual("Windows Firewall has been Disabled\n", box["text"])
        self.assertEqual(1, self.box_count(NOTICE))
        self.press(WARNING)
        self.wait_tray("red")
        self.press(NOTICE)
        events = firewall_events()
        self.assertFalse([e for e in events if e.startswith("USE_AFTER_RELEASE")], events)


if __name__ == "__main__":
    unittest.main()

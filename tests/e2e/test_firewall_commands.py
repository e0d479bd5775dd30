"""Start and Stop through the window's commands 104 and 103, where they
change nothing, fail or wait; the menu scenario switches the firewall both
ways. Each runs on a thread of its own, never the window's."""
import os
import subprocess
import time
import unittest

from bed import (DOMAIN, DOMAIN2, EXE, PRIVATE2, PUBLIC2, WIN7, WIN10, BedTestCase, TrayMixin,
                 command_events, delete_service, ensure_service_exists, firewall_events, firewall_log,
                 firewall_value, launched, prefix_processes, set_firewall, tray_colour, wait_until)
from test_watch_firewall import xp_only

START, STOP, CONFIGURE, VIEW_LOG, EXIT = 104, 103, 105, 106, 100
NOTICE = "Firewall Notice"
WARNING = "Firewall Warning!"
LOG_BOX = "View Log"
LATER_LOG = os.path.join(os.environ.get("WINEPREFIX", ""), "drive_c", "windows", "system32", "LogFiles",
                         "Firewall", "pfirewall.log")


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

    @xp_only
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

    def start_with_the_clean_up_held(self, **firewall):
        """IpNat missing makes the monitor give up right after publishing
        the profile; its clean-up is held at the manager's release."""
        self.addCleanup(ensure_service_exists, "IpNat")
        delete_service("IpNat")
        set_firewall(enabled=0, manager_release_held=1, **firewall)
        self.start_program()
        wait_until(lambda: firewall_events("manager_release_begin"), 20, what="the profile to be published")

    @xp_only
    def test_a_command_racing_the_monitors_clean_up_never_uses_a_released_profile(self):
        # The clean-up held until the command is inside the profile, and a
        # slow read keeps it there while the clean-up goes on.
        self.start_with_the_clean_up_held(read_delay_ms=5000)
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

    @xp_only
    def test_a_command_borrowing_the_profile_as_the_monitor_lets_it_go_holds_its_own_reference(self):
        # The command's AddRef is held, and the clean-up let go meanwhile:
        # it must wait for the borrow, since the profile it releases is the
        # one being borrowed.
        self.start_with_the_clean_up_held(addref_held=1)
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
        self.assertEqual(["put_FirewallEnabled 0 ok " + ("private" if self.later else "standard")],
                         firewall_events("put_FirewallEnabled"))
        self.assertEqual(0, firewall_value("enabled"))

    @xp_only
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


class FirewallCommandsOnWindows10(FirewallCommands):
    WINDOWS = WIN10


def copy_puts():
    """(pid, command line) of each process that switched the later
    firewall, in order."""
    return [tuple(e.split(" ", 2)[1:]) for e in firewall_events("policy2_put_from")]


class LaterFirewallCommands(BedTestCase, TrayMixin):
    """Start, Stop, Configure and View Log on the firewall of Vista and
    later, where a refused switch is asked again of a copy that Windows
    starts with the user's consent (Wine asks none)."""

    WINDOWS = WIN7

    def test_start_and_stop_switch_every_profile_in_force(self):
        set_firewall(profiles_in_force=DOMAIN2 | PUBLIC2, domain_enabled=0, public_enabled=0, enabled=0)
        self.start_program()
        self.wait_tray("red")
        self.command(START)
        self.wait_tray("green")
        self.assertEqual(["put_FirewallEnabled 1 ok domain", "put_FirewallEnabled 1 ok public"],
                         firewall_events("put_FirewallEnabled"))
        self.assertEqual(0, firewall_value("enabled"), "a profile not in force was switched")
        self.command(STOP)
        self.press(WARNING)
        self.wait_tray("red")
        self.assertEqual((0, 0), (firewall_value("domain_enabled"), firewall_value("public_enabled")))
        # From the program itself, on a thread of its own; no copy.
        self.assertEqual({str(self.window["pid"])}, {pid for pid, _ in copy_puts()})
        self.assertEqual([], firewall_events("put_FirewallEnabled", thread=self.window["thread"]))
        self.assertEqual(0, self.box_count(NOTICE))

    def test_a_switch_refused_for_want_of_rights_is_made_by_a_consented_copy(self):
        set_firewall(switch_refused=1, profiles_in_force=PRIVATE2 | PUBLIC2)
        self.start_program()
        self.wait_tray("green")
        self.command(STOP)
        self.press(WARNING)
        self.wait_tray("red")
        puts = firewall_events("put_FirewallEnabled")
        self.assertEqual(["put_FirewallEnabled 0 refused private", "put_FirewallEnabled 0 ok private",
                          "put_FirewallEnabled 0 ok public"], puts)
        (program, _), (copy, line), _ = copy_puts()
        self.assertEqual(str(self.window["pid"]), program)
        self.assertNotEqual(program, copy, "the switch was not made by another process")
        # The program's own file, with its one exact argument.
        self.assertRegex(line, r'^("[^"]*|\S*)Halvotren\.exe"? off$')
        self.command(START)
        self.wait_tray("green")
        self.assertRegex(copy_puts()[-1][1], r' on$')
        self.assertEqual(0, self.box_count(NOTICE), "a switch that went through gave a notice")

    def test_a_copy_that_fails_gives_the_notice(self):
        set_firewall(switch_refused=1, copy_refused=1, enabled=0)
        self.start_program()
        self.wait_tray("red")
        for identifier, text, state in ((START, "Unable to start firewall", 0), (STOP, "Unable to stop firewall", 1)):
            set_firewall(enabled=state)
            self.command(identifier)
            box = self.box(NOTICE)
            self.assertEqual((text, 0), (box["text"], box["owner"]))
            self.press(NOTICE)
            self.assertEqual(state, firewall_value("enabled"))
        self.assertEqual(["put_FirewallEnabled 1 refused private"] * 2 + ["put_FirewallEnabled 0 refused private"] * 2,
                         firewall_events("put_FirewallEnabled"))
        self.assertEqual(2, len({pid for pid, _ in copy_puts()}) - 1, "no copy tried each switch")

    def test_waiting_for_consent_is_no_stalled_call_and_exit_still_ends_the_program(self):
        set_firewall(switch_refused=1, copy_hangs=1)
        self.addCleanup(set_firewall, copy_hangs=0)
        self.start_program()
        self.wait_tray("green")
        self.command(STOP)
        wait_until(lambda: firewall_events("copy_hang_begin"), 20, what="the copy to be waited for")
        # As long as the user takes to answer: the icon keeps its colour,
        # and Start or Stop chosen meanwhile does nothing, then or later.
        self.command(START)
        self.command(STOP)
        self.assert_tray_stays("green", 13, "waiting for consent turned the icon red")
        self.assertEqual(1, len(firewall_events("copy_hang_begin")))
        self.command(EXIT)
        self.assertEqual(0, self.wait_exit(10))
        set_firewall(copy_hangs=0)
        wait_until(lambda: not prefix_processes("Halvotren.exe"), 20, what="the copy to end")
        self.assertEqual(1, len(firewall_events("put_FirewallEnabled 0 ok")))

    def test_a_copy_refuses_any_other_command_line(self):
        set_firewall(enabled=1)
        for arguments in (["on", "x"], ["ON"], ["off", "/installed"], ["on", ""]):
            with self.subTest(arguments=arguments):
                ended = subprocess.run(["wine", EXE, *arguments], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, timeout=60)
                self.assertEqual(87, ended.returncode)
        self.assertEqual([], firewall_events("policy2_put_from"))
        self.assertFalse(self.driver.call("window", 0)["ok"], "a refused copy made a window")
        # Its one exact argument switches every profile in force and ends.
        set_firewall(profiles_in_force=DOMAIN2 | PRIVATE2)
        ended = subprocess.run(["wine", EXE, "off"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=60)
        self.assertEqual(0, ended.returncode)
        self.assertEqual(["put_FirewallEnabled 0 ok domain", "put_FirewallEnabled 0 ok private"],
                         firewall_events("put_FirewallEnabled"))

    def test_configure_and_view_log_name_the_later_firewalls(self):
        self.addCleanup(lambda: os.path.exists(LATER_LOG) and os.remove(LATER_LOG))
        if os.path.exists(LATER_LOG):
            os.remove(LATER_LOG)
        self.start_program(recorders=("notepad.exe", "control.exe"))
        self.wait_tray("green")
        self.command(CONFIGURE)
        wait_until(lambda: launched(), 20, what="Configure's start")
        self.assertEqual([("C:\\windows\\system32\\control.exe",
                           "C:\\windows\\system32\\control.exe /name Microsoft.WindowsFirewall")], launched())
        # No log (logging is off by default): a box says why instead.
        self.command(VIEW_LOG)
        box = self.box(LOG_BOX)
        self.assertIn("logging is off by default", box["text"])
        self.assertEqual((0, [1]), (box["owner"], box["buttons"]))
        self.press(LOG_BOX)
        os.makedirs(os.path.dirname(LATER_LOG), exist_ok=True)
        with open(LATER_LOG, "w") as f:
            f.write("#Version: 1.5\n")
        self.command(VIEW_LOG)
        log = "C:\\windows\\system32\\LogFiles\\Firewall\\pfirewall.log"
        wait_until(lambda: len(launched()) == 2, 20, what="View Log's start")
        self.assertEqual(("C:\\windows\\notepad.exe", "C:\\windows\\notepad.exe " + log), launched()[1])
        self.assertEqual(0, self.box_count(LOG_BOX))


class LaterFirewallCommandsOnWindows10(LaterFirewallCommands):
    WINDOWS = WIN10


if __name__ == "__main__":
    unittest.main()

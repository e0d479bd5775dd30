"""The monitor's service half: SharedAccess and IpNat."""
import os
import signal
import unittest

from bed import (WIN7, WIN10, BedTestCase, TrayMixin, delete_service, ensure_service_exists, firewall_events,
                 prefix_processes, set_firewall, set_service_order, wait_until)

WARNING = "Firewall Warning"
MONITOR_CYCLE_S = 2
TEXT = ("Warning, critical firewall services have been stopped!\n\n"
        "Please restart the SharedAccess service and IpNat Service or\n"
        "contact your System Administrator immediately.")
LATER_TEXT = ("Warning, critical firewall services have been stopped!\n\n"
              "Please restart the Windows Firewall (MpsSvc) and Base Filtering Engine (BFE) services "
              "or contact your System Administrator immediately.")


class ServicesWatch(BedTestCase, TrayMixin):
    def service(self, name, action):
        self.assertTrue(self.driver.call("service", name, action, 20000)["ok"], "%s %s" % (action, name))

    def test_each_stop_warns_once_with_the_icon_already_red(self):
        self.start_program()
        self.wait_tray("green")
        for name in reversed(self.services):
            self.service(name, "stop")
            box = self.box(WARNING)
            self.assertEqual(LATER_TEXT if self.later else TEXT, box["text"])
            self.assertEqual(0, box["owner"])
            # servicesUp drops before the box opens.
            self.wait_tray("red")
            self.assertEqual(1, self.box_count(WARNING))
            self.press(WARNING)
            self.wait_monitor_cycles(2)
            self.assertEqual(0, self.box_count(WARNING), "warned twice for one stop")
            self.service(name, "start")
            self.wait_tray("green")

    def test_a_pending_service_counts_as_not_running(self):
        self.start_program()
        self.wait_tray("green")
        for name in self.services:
            set_service_order(name, "stop_pending")
            self.box(WARNING)
            self.wait_tray("red")
            self.press(WARNING)
            set_service_order(name, None)
            self.wait_tray("green")
        self.wait_tray("green")
        self.assertEqual(0, self.box_count(WARNING))

    def test_services_down_at_start_give_no_warning(self):
        self.service(self.services[1], "stop")
        self.start_program()
        self.wait_monitor_cycles(2)
        self.wait_tray("red")
        self.assertEqual(0, self.box_count(WARNING))

    def test_a_service_manager_that_stops_answering_is_a_failed_check(self):
        self.start_program()
        self.wait_tray("green")
        [manager] = prefix_processes("services.exe")
        os.kill(manager, signal.SIGSTOP)
        try:
            # The monitor's next query blocks; 10 s on, the icon is red.
            self.wait_tray("red", 2 * MONITOR_CYCLE_S + 13)
        finally:
            os.kill(manager, signal.SIGCONT)
        self.wait_tray("green")
        self.assertEqual(0, self.box_count(WARNING))

    def test_a_missing_service_ends_the_monitor_quietly(self):
        helper = self.services[1]
        self.addCleanup(ensure_service_exists, helper)
        delete_service(helper)
        set_firewall(enabled=0)
        self.start_program()
        # The monitor releases the profile (or policy) it had and never samples.
        released = "policy2_release 0" if self.later else "profile_release 0 standard"
        wait_until(lambda: released in firewall_events(released.split()[0]), 20,
                   what="the monitor to release the firewall")
        self.wait_tray("red")
        # With no profile a Start cannot be made, and says so.
        self.command(104)
        self.assertEqual("Unable to start firewall", self.box("Firewall Notice")["text"])
        self.press("Firewall Notice")
        self.assertEqual([], firewall_events("get_FirewallEnabled"))
        self.assertEqual([], firewall_events("put_FirewallEnabled"))
        self.assertEqual(0, self.box_count(WARNING))
        self.assertIsNone(self.program.poll(), "the program ended with its monitor")


class ServicesWatchOnWindows7(ServicesWatch):
    WINDOWS = WIN7


class ServicesWatchOnWindows10(ServicesWatch):
    WINDOWS = WIN10


if __name__ == "__main__":
    unittest.main()

"""The tray menu as a person uses it: a right-click on the icon, the
keyboard to choose, and what each command does."""
import os
import unittest

import test_update as update
from bed import (WM_COMMAND, WM_TRAYNOTIFY, BedTestCase, TrayMixin, click_elsewhere, click_tray,
                 firewall_events, firewall_value, launched, pointer_over_program, press_keys, set_firewall,
                 wait_until)
from update_server import Answer, UpdateServer, refusing_port

ABOUT_START = "Halvotren\nVersion %g\nBy: " % float(os.environ.get("HALVOTREN_VERSION", "0"))
HELP = ("Halvotren Help\n\nRight click on the Halvotren icon to control any\n"
        "Windows firewall features.  To stop or start the\nfirewall you must have administrative rights.\n"
        "The icon in the system tray will be green when the\nfirewall is active and red if it is deactivated.\n"
        "Halvotren will also popup a message box alerting\nyou to the firewall going down.\n")
CONFIGURE = ("C:\\windows\\system32\\rundll32.exe C:\\windows\\system32\\shell32.dll,"
             "Control_RunDLL firewall.cpl,Windows Firewall")
VIEW_LOG = "C:\\windows\\notepad.exe C:\\windows\\pfirewall.log"
RECORDERS = ("notepad.exe", "rundll32.exe")
ITEMS = ["View Log", "Configure", "Start Windows Firewall", "Stop Windows Firewall", "Help",
         "Check for Updates", "About This Program", "Exit"]
DELETE = 2


class TrayMenu(BedTestCase, TrayMixin):
    def open_menu(self):
        click_tray(3)
        wait_until(lambda: self.driver.call("menus")["count"] == 1 and pointer_over_program(), 20,
                   what="the popup menu under the pointer")

    def choose(self, position):
        """Opens the menu and picks the item at `position` (1 = top) by
        keyboard."""
        self.open_menu()
        press_keys(*["Down"] * position, "Return")
        wait_until(lambda: self.driver.call("menus")["count"] == 0, 20, what="the menu to close")

    def owned_box(self, caption):
        """The text of a box the tray window owns, with OK alone, once closed."""
        box = self.box(caption)
        self.assertEqual((self.window["hwnd"], "Halvotren", [1]),
                         (box["owner"], box["owner_class"], box["buttons"]))
        self.press(caption)
        return box["text"]

    def assert_launched(self, program, command_line):
        wait_until(lambda: (program, command_line) in launched(), 20, what="a start of " + program)

    def test_the_items_in_order_by_what_each_does(self):
        # The update check meets a loopback port that refuses it, never the
        # network: the server down.
        held, port = refusing_port()
        self.addCleanup(held.close)
        update.set_proxy(port)
        self.addCleanup(update.remove_proxy)
        set_firewall(enabled=0)
        self.start_program(recorders=RECORDERS)
        self.wait_tray("red")

        self.choose(1)
        self.assertEqual(ITEMS, self.menu_texts())
        self.assert_launched("C:\\windows\\notepad.exe", VIEW_LOG)
        self.choose(2)
        self.assert_launched("C:\\windows\\system32\\rundll32.exe", CONFIGURE)
        self.assertEqual(2, len(launched()))
        # Nothing waits for a launched program, and nothing of it is kept.
        held = self.driver.call("counts")["handles_listed"]
        for _ in range(4):
            self.command(106)
            self.command(105)
        wait_until(lambda: len(launched()) == 10, 30, what="eight more starts")
        self.assertLessEqual(self.driver.call("counts")["handles_listed"], held + 3,
                             "a handle of each launched program is kept")
        self.choose(3)
        wait_until(lambda: firewall_value("enabled") == 1, 20, what="Start to switch the firewall on")
        self.wait_tray("green")
        self.choose(4)
        wait_until(lambda: firewall_value("enabled") == 0, 20, what="Stop to switch the firewall off")
        # A stop while the monitor saw it on is a fall like any other.
        self.press("Firewall Warning!")
        self.wait_tray("red")
        # Switched from a thread of their own, never the window's.
        self.assertEqual(["put_FirewallEnabled 1 ok standard", "put_FirewallEnabled 0 ok standard"],
                         firewall_events("put_FirewallEnabled"))
        self.assertEqual([], firewall_events("put_FirewallEnabled", thread=self.window["thread"]))
        self.choose(5)
        self.assertEqual(HELP, self.owned_box("Halvotren Help"))
        self.choose(6)
        box = self.box(update.ERROR, timeout=update.BOX_TIMEOUT)
        self.assertEqual((update.ERROR_TEXT, 0), (box["text"], box["owner"]))
        self.press(update.ERROR)
        self.choose(7)
        about = self.owned_box("About")
        self.assertTrue(about.startswith(ABOUT_START), about)
        self.assertEqual(3, about.count("\n"))
        self.assertFalse(about.endswith("\n"))
        self.choose(8)
        self.assertEqual(0, self.wait_exit())
        self.assertEqual(DELETE, self.tray_calls()[-1], "the icon was not deleted")
        self.wait_tray(None)
        self.assertEqual(10, len(launched()))

    def test_during_a_slow_check_the_icon_the_menu_and_exit_still_answer(self):
        # The version file comes only after 40 s; the check waits on its own
        # thread, and everything else goes on meanwhile.
        server = UpdateServer()
        self.addCleanup(server.stop)
        update.set_proxy(server.port)
        self.addCleanup(update.remove_proxy)
        server.serve(update.VERSION_PATH, Answer(update.OFFER, content_type="text/plain", delay=40))
        self.start_program()
        self.wait_tray("green")
        self.command(107)
        wait_until(lambda: server.seen(update.VERSION_PATH), update.BOX_TIMEOUT,
                   what="the check to ask for the version file")
        # A fall during the check: the services flag drops before its
        # warning opens, so the icon is red while the box is on screen.
        self.assertTrue(self.driver.call("service", "IpNat", "stop", 20000)["ok"])
        self.box("Firewall Warning")
        self.wait_tray("red", 9)
        # A second check while the first waits starts none.
        self.command(107)
        self.choose(5)
        self.press("Halvotren Help")
        self.assertEqual(1, len(server.seen(update.VERSION_PATH)), "a second check asked again")
        # Exit, from the menu, ends the program at once.
        self.choose(8)
        self.assertEqual(0, self.wait_exit(2, "Halvotren still ran 2 s after Exit during a check"))
        self.assertEqual(DELETE, self.tray_calls()[-1], "the icon was not deleted")
        self.assertEqual([], update.update_folders())
        self.assertEqual(0, self.box_count(update.NO_UPDATES) + self.box_count(update.UPDATE_AVAILABLE))

    def test_only_a_right_click_opens_the_menu_and_a_click_elsewhere_closes_it(self):
        self.start_program()
        self.wait_tray("green")
        click_tray(1)
        click_tray(1, repeat=2)
        for _ in range(10):
            self.assertEqual(0, self.driver.call("menus")["count"], "a left click opened a menu")
        self.post(WM_TRAYNOTIFY, 0, 0x0203)  # a double click reported by the shell
        self.post(WM_TRAYNOTIFY, 0, 0x0204)  # the right button going down
        self.sync_with_window(101, "About")
        self.assertEqual(0, self.box_count("Halvotren Help"))
        self.assertEqual(0, self.driver.call("menus")["count"])

        self.open_menu()
        click_elsewhere()
        wait_until(lambda: self.driver.call("menus")["count"] == 0, 20,
                   what="the menu to close on a click elsewhere")
        # And the menu still works afterwards.
        self.choose(5)
        self.press("Halvotren Help")

    def test_other_identifiers_do_nothing(self):
        set_firewall(enabled=0)
        self.start_program(recorders=RECORDERS)
        self.wait_monitor_cycles(1)
        for identifier in (0, 1, 99, 108, 200, 0xFFFF):
            self.post(WM_COMMAND, identifier, 0)
        self.sync_with_window()
        self.assertEqual(0, self.box_count("About"))
        self.assertIsNone(self.program.poll())
        self.assertEqual([], launched())
        self.assertEqual([], firewall_events("put_FirewallEnabled"))
        self.assertEqual(0, self.driver.call("menus")["count"])


if __name__ == "__main__":
    unittest.main()

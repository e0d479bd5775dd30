"""The tray icon as the shell sees it: added once, modified every second,
brought back when the shell loses it, deleted on exit."""
import time
import unittest

from bed import WIN10, WM_CLOSE, BedTestCase, TrayMixin, set_firewall, wait_until

ADD, MODIFY, DELETE = 0, 1, 2
WM_ENDSESSION = 0x0016


class TrayIcon(BedTestCase, TrayMixin):
    def test_first_tick_adds_later_ticks_modify_and_the_colour_follows_the_status(self):
        set_firewall(enabled=0)
        self.start_program()
        started = time.monotonic()
        self.wait_tray("red")
        set_firewall(enabled=1)
        self.wait_tray("green")
        # Applied every second: 10 s on, a busy machine has still made 8
        # calls or more; a tick of 2 s has made 6 at most.
        self.assert_tray_stays("green", started + 10 - time.monotonic())
        calls = self.tray_calls()
        self.assertGreaterEqual(len(calls), 8, "the icon was applied %d times in %.0f s, not once a second"
                                % (len(calls), time.monotonic() - started))
        self.assertEqual(ADD, calls[0])
        self.assertTrue(set(calls[1:]) <= {MODIFY}, calls)
        # At the small-icon size, which at Wine's 96 DPI is today's 16
        # pixels: red first, then green.
        loads = self.tray_icon_loads()
        self.assertEqual({(103, 16, 16), (104, 16, 16)}, set(loads))
        self.assertEqual(104, loads[0][0])

    def test_an_icon_the_shell_lost_comes_back(self):
        self.start_program()
        self.wait_tray("green")
        # From the refresh under way, if any.
        seen = len(self.tray_refreshes()) - 1
        self.assertTrue(self.driver.call("drop-icon")["ok"])
        # The next refresh's modify fails, so it adds the icon again at once.
        wait_until(lambda: [MODIFY, ADD] in self.tray_refreshes()[seen:], 20,
                   what="a refresh whose failed modify adds the icon again")
        self.wait_tray("green")

    def test_a_new_taskbar_gets_the_icon_at_once(self):
        self.start_program()
        self.wait_tray("green")
        seen = len(self.tray_refreshes()) - 1
        self.assertTrue(self.driver.call("taskbar-created")["ok"])
        # An add out of turn; this shell still holds the icon and refuses a
        # second one, so the same refresh falls back to a modify.
        wait_until(lambda: [ADD, MODIFY] in self.tray_refreshes()[seen:], 20,
                   what="a refresh on TaskbarCreated whose failed add modifies the icon")
        self.assert_tray_stays("green", 2)
        # At once, not at the next tick: with a close posted right behind it,
        # which the window takes before any tick, the icon is added again
        # before the close deletes it.
        seen = len(self.tray_calls())
        self.assertTrue(self.driver.call("taskbar-created", WM_CLOSE)["ok"])
        self.assertEqual(0, self.wait_exit())
        calls = self.tray_calls()[seen:]
        self.assertEqual(DELETE, calls[-1])
        self.assertIn(ADD, calls, "TaskbarCreated left the icon to the next tick: %s before the close" % calls)

    def test_close_ends_with_status_zero_and_deletes_the_icon(self):
        self.start_program()
        self.wait_tray("green")
        self.post(WM_CLOSE)
        self.assertEqual(0, self.wait_exit())
        self.assertTrue(self.driver.call("gone", 20000)["ok"], "the window outlived the program")
        self.assertEqual(DELETE, self.tray_calls()[-1])
        self.wait_tray(None)

    def test_the_end_of_the_session_ends_the_program_as_exit_does(self):
        self.start_program()
        self.wait_tray("green")
        # Told that the session goes on after all: it stays.
        self.post(WM_ENDSESSION, 0, 0)
        self.sync_with_window()
        self.assertIsNone(self.program.poll())
        self.post(WM_ENDSESSION, 1, 0)
        self.assertEqual(0, self.wait_exit())
        self.assertEqual(DELETE, self.tray_calls()[-1], "the icon was not deleted")
        self.wait_tray(None)


class TrayIconOnWindows10(TrayIcon):
    WINDOWS = WIN10


if __name__ == "__main__":
    unittest.main()

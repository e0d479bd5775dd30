"""The tray icon as the shell sees it: added once, modified every second,
brought back when the shell loses it, deleted on exit."""
import unittest

from bed import WM_CLOSE, BedTestCase, TrayMixin, set_firewall, wait_until

ADD, MODIFY, DELETE = 0, 1, 2


def follows(calls, pattern):
    return any(calls[i:i + len(pattern)] == pattern for i in range(len(calls)))


class TrayIcon(BedTestCase, TrayMixin):
    def test_first_tick_adds_later_ticks_modify_and_the_colour_follows_the_status(self):
        set_firewall(enabled=0)
        self.start_program()
        self.wait_tray("red")
        set_firewall(enabled=1)
        self.wait_tray("green")
        calls = wait_until(lambda: [c for c in [self.tray_calls()] if len(c) >= 4], 20,
                           what="four ticks")[0]
        self.assertEqual(ADD, calls[0])
        self.assertTrue(set(calls[1:]) <= {MODIFY}, calls)

    def test_an_icon_the_shell_lost_comes_back(self):
        self.start_program()
        self.wait_tray("green")
        seen = len(self.tray_calls())
        self.assertTrue(self.driver.call("drop-icon")["ok"])
        # The next tick's modify fails, so it adds the icon again.
        wait_until(lambda: follows(self.tray_calls()[seen:], [MODIFY, ADD]), 20,
                   what="the icon to be added again")
        self.wait_tray("green")

    def test_a_new_taskbar_gets_the_icon_at_once(self):
        self.start_program()
        self.wait_tray("green")
        seen = len(self.tray_calls())
        self.assertTrue(self.driver.call("taskbar-created")["ok"])
        # An add out of turn; this shell still holds the icon and refuses a
        # second one, so the program falls back to a modify.
        wait_until(lambda: follows(self.tray_calls()[seen:], [ADD, MODIFY]), 20,
                   what="an add on TaskbarCreated")
        self.assert_tray_stays("green", 2)

    def test_close_ends_with_status_zero_and_deletes_the_icon(self):
        self.start_program()
        self.wait_tray("green")
        self.post(WM_CLOSE)
        self.assertEqual(0, self.wait_exit())
        self.assertTrue(self.driver.call("gone", 20000)["ok"], "the window outlived the program")
        self.assertEqual(DELETE, self.tray_calls()[-1])
        self.wait_tray(None)


if __name__ == "__main__":
    unittest.main()

"""The service manager failing under a running program: its queries fail,
the icon turns red, no warning is shown and the program goes on. Wine cannot
bring a service manager back for the programs that held it, so this test
restarts its bed's Wine afterwards, once the program is gone and no other
is found; ctest runs it after every other scenario."""
import os
import signal
import subprocess
import unittest

from bed import FIXTURES, BedTestCase, TrayMixin, prefix_processes, set_firewall


def restart_wine():
    """A fresh wineserver, service manager and tray keeper for the prefix,
    as the bed starts them."""
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-k"], **quiet)
    subprocess.run(["wineserver", "-w"], timeout=60, **quiet)
    subprocess.run(["wineserver", "-p"], timeout=60, **quiet)
    subprocess.run(["wine", "sc", "query"], timeout=120, **quiet)
    subprocess.Popen(["wine", os.path.join(FIXTURES, "driver.exe"), "idle"], start_new_session=True, **quiet)


class ServiceManagerFault(BedTestCase, TrayMixin):
    def setUp(self):
        # The last clean-up: after the program is stopped and the bed found
        # empty, through the driver of this Wine.
        self.manager_killed = False
        self.addCleanup(lambda: self.manager_killed and restart_wine())
        super().setUp()

    def test_failed_queries_turn_the_icon_red_without_a_warning(self):
        self.start_program()
        self.wait_tray("green")
        managers = prefix_processes("services.exe")
        self.assertEqual(1, len(managers), managers)
        self.manager_killed = True
        os.kill(managers[0], signal.SIGKILL)
        self.wait_tray("red")
        self.assert_no_box("Firewall Warning", 5)
        self.assertEqual(0, self.box_count("Firewall Warning!"))
        self.assertIsNone(self.program.poll(), "Halvotren ended with its service manager")
        # The firewall half goes on: a fall is still warned about.
        set_firewall(enabled=0)
        self.box("Firewall Warning!")
        self.press("Firewall Warning!")


if __name__ == "__main__":
    unittest.main()

"""The program as a whole: start, close, exit code."""
import unittest

from bed import WM_CLOSE, BedTestCase, TrayMixin


class ProgramLifecycle(BedTestCase, TrayMixin):
    def test_close_ends_the_program_with_exit_code_zero(self):
        self.start_program()
        self.wait_tray("green")
        self.post(WM_CLOSE)
        self.assertEqual(0, self.wait_exit())
        self.assertTrue(self.driver.call("gone", 5000)["ok"], "the window outlived the program")
        self.wait_tray(None)


if __name__ == "__main__":
    unittest.main()

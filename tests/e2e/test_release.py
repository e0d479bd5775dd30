"""The release package and the update loop closed end to end: install the
package with Wine's own Windows Installer, let the installed program find,
download and start the next version's package, and see it replaced."""
import os
import unittest

import test_update as update
from bed import BedTestCase, wait_until, wine
from update_server import Answer, UpdateServer

PACKAGE = os.environ.get("HALVOTREN_PACKAGE", "")
NEXT_PACKAGE = os.environ.get("HALVOTREN_NEXT_PACKAGE", "")
INSTALLED = "C:\\Program Files\\Halvotren\\Halvotren.exe"
NEXT_URL = "http://www.halvotren.example/downloads/Halvotren-1.1.msi"
# The update path refuses an installer that does not fit its buffer.
INSTALLER_LIMIT = 999999


def windows_path(unix_path):
    return "Z:" + unix_path.replace("/", "\\")


def unix_path(windows):
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", windows[3:].replace("\\", "/"))


class ReleasePackage(unittest.TestCase):
    def test_packages_fit_the_update_paths_limit(self):
        for package in (PACKAGE, NEXT_PACKAGE):
            size = os.path.getsize(package)
            print("\n%s: %d bytes" % (os.path.basename(package), size))
            self.assertLess(size, INSTALLER_LIMIT)


class UpdateLoop(BedTestCase):
    def setUp(self):
        super().setUp()
        self.assertTrue(PACKAGE and NEXT_PACKAGE, "run the tests through scripts/test.sh")
        self.server = UpdateServer()
        self.addCleanup(self.server.stop)
        update.set_proxy(self.server.port)
        self.addCleanup(update.remove_proxy)
        self.addCleanup(update.clear_pending_renames)
        self.addCleanup(self.uninstall)

    def uninstall(self):
        for package in (NEXT_PACKAGE, PACKAGE):
            wine("msiexec", "/x", windows_path(package), "/qn", check=False, timeout=120)

    def installed_version(self):
        info = self.driver.call("version", INSTALLED)
        return info.get("FileVersion") if info["ok"] else None

    def test_an_installed_program_updates_itself(self):
        self.assertEqual(0, wine("msiexec", "/i", windows_path(PACKAGE), "/qn", timeout=120).returncode)
        self.assertEqual("1.05", self.installed_version())
        shortcuts = [os.path.join(root, name)
                     for root, _, names in os.walk(os.path.join(os.environ["WINEPREFIX"], "drive_c"))
                     for name in names if name == "Halvotren.lnk"]
        self.assertTrue(any("Startup" in p or "StartUp" in p for p in shortcuts), shortcuts)
        self.assertTrue(any(os.sep + "Programs" + os.sep + "Halvotren.lnk" in p for p in shortcuts), shortcuts)

        with open(NEXT_PACKAGE, "rb") as f:
            next_package = f.read()
        self.server.serve("/downloads/halvotren.ver", Answer("1.1:%s\r\n" % NEXT_URL, content_type="text/plain"))
        self.server.serve("/downloads/Halvotren-1.1.msi", Answer(next_package, content_type="application/x-msi"))
        self.start_program(exe=unix_path(INSTALLED))
        self.command(update.CHECK_FOR_UPDATES)
        self.box(update.UPDATE_AVAILABLE, timeout=update.BOX_TIMEOUT)
        self.press(update.UPDATE_AVAILABLE, update.IDYES)
        self.assertEqual(0, self.wait_exit(60))
        # Wine's own Windows Installer now upgrades the installed program in
        # place from the downloaded package.
        wait_until(lambda: self.installed_version() == "1.1", 120, interval=1,
                   what="the installed program to become 1.1")
        self.assertEqual(1, len(self.server.seen("/downloads/Halvotren-1.1.msi")))


if __name__ == "__main__":
    unittest.main()

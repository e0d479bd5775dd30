"""Releases and the update loop closed end to end: the release command builds
signed, timestamped 1.05 and 1.1 releases with an update key, Wine's own
Windows Installer installs 1.05 (and starts it when the install has a user
interface), the installed program finds, downloads, checks and starts the
1.1 package served from the release folder, and 1.1 then runs in its place."""
import contextlib
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import signing
import test_update as update
from bed import EXE, BedTestCase, TrayMixin, prefix_processes, wait_until, waiter_processes
from timestamp_server import TimestampServer, verify
from update_server import Answer, UpdateServer

SOURCE = os.environ.get("HALVOTREN_SOURCE", "")
BUILD = os.environ.get("HALVOTREN_BUILD", "")
PACKAGE = os.environ.get("HALVOTREN_PACKAGE", "")
INSTALLED = "C:\\Program Files\\Halvotren\\Halvotren.exe"
BASE_URL = "http://www.halvotren.example/downloads"
# The update path refuses an installer that does not fit its buffer.
INSTALLER_LIMIT = 999999
WM_CLOSE = 0x0010
ABOUT = 101
# Windows Installer's exit codes as a Unix exit status shows them: a restart
# required, a user's cancel, a fatal error.
RESTART_REQUIRED = 3010 % 256
USER_EXIT = 1602 % 256
FATAL_ERROR = 1603 % 256
USER_EXIT_DLL = os.path.join(os.environ.get("HALVOTREN_FIXTURES", ""), "user_exit.dll")
# When an installation with a user interface ends, unless the waiter runs it
# or an upgrade removes the old version with it.
AT_THE_END = "UILevel > 2 AND NOT UPGRADINGPRODUCTCODE AND NOT HALVOTREN_WAITER"
# A restart only once costing has run: one refused before it closed nothing.
RESTART_AT_THE_END = AT_THE_END + " AND HalvotrenCosted"
NOTES = "HKCU\\Software\\Halvotren"
RESTART = "/restart [ProductCode]"
ELSEWHERE = "C:\\OtherPlace\\Halvotren\\"


def windows_path(unix_path):
    return "Z:" + unix_path.replace("/", "\\")


def release_folder(*args):
    return subprocess.run(["python3", os.path.join(SOURCE, "scripts", "release_folder.py"), *args],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def msiexec(*args):
    """Wine's own Windows Installer. Its output is not kept: a program the
    installation starts would hold the pipes open long after it ended."""
    return subprocess.run(["wine", "msiexec", *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=120).returncode


def release(*args):
    return subprocess.run(["bash", os.path.join(SOURCE, "scripts", "release.sh"), "--base-url", BASE_URL, *args],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def msi_table(table, package=PACKAGE):
    """The rows of one of the package's tables, as msiinfo exports them."""
    text = subprocess.run(["msiinfo", "export", package, table], stdout=subprocess.PIPE, text=True,
                          check=True).stdout
    return [line.split("\t") for line in text.splitlines()[3:]]


def package_that_ends_badly(package, work):
    """A copy of package that, given HALVOTREN_TEST_END, ends just after its
    closing action, before InstallInitialize: with an error that Windows
    Installer shows ("fail", a type 19 action) or as a user's cancel
    ("cancel", a custom action that reports one); or with that error before
    its closing action, once costing has named the files ("early")."""
    copy = os.path.join(work, "ends-badly.msi")
    shutil.copyfile(package, copy)
    # A table imported whole replaces the package's: its rows are given
    # again, each stream from a file beside the table.
    streams = subprocess.run(["msiinfo", "streams", package], stdout=subprocess.PIPE, text=True, check=True).stdout
    binaries = [name[len("Binary."):] for name in streams.split() if name.startswith("Binary.")]
    os.makedirs(os.path.join(work, "Binary"))
    for name in binaries:
        with open(os.path.join(work, "Binary", name + ".ibd"), "wb") as f:
            f.write(subprocess.run(["msiinfo", "extract", package, "Binary." + name], stdout=subprocess.PIPE,
                                   check=True).stdout)
    shutil.copyfile(USER_EXIT_DLL, os.path.join(work, "Binary", "UserExit.ibd"))
    with open(os.path.join(work, "Binary.idt"), "w") as f:
        f.write("Name\tData\ns72\tv0\nBinary\tName\n")
        f.writelines("%s\t%s.ibd\n" % (name, name) for name in binaries + ["UserExit"])
    queries = ["INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
               "VALUES ('FailHere', 19, '', 'This installation fails here.')",
               "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
               "VALUES ('CancelHere', 1, 'UserExit', 'UserExit')",
               "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) "
               "VALUES ('FailHere', 'HALVOTREN_TEST_END = \"fail\"', 1450)",
               "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
               "VALUES ('FailEarly', 19, '', 'This installation fails here.')",
               "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) "
               "VALUES ('FailEarly', 'HALVOTREN_TEST_END = \"early\"', 1300)",
               "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) "
               "VALUES ('CancelHere', 'HALVOTREN_TEST_END = \"cancel\"', 1451)"]
    subprocess.run(["msibuild", copy, "-i", "Binary.idt"] + [a for q in queries for a in ("-q", q)], cwd=work,
                   check=True)
    return copy


def installed_products():
    """How many products Windows Installer has registered as Halvotren."""
    listed = subprocess.run(["wine", "reg", "query", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                             "/s"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    return sum(1 for line in listed.splitlines() if line.split()[:3] == ["DisplayName", "REG_SZ", "Halvotren"])


def product_code(package):
    [code] = [row[1] for row in msi_table("Property", package) if row[0] == "ProductCode"]
    return code


def notes():
    """The values of the user's Halvotren key, by name."""
    listed = subprocess.run(["wine", "reg", "query", NOTES], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            text=True).stdout
    return {fields[0]: fields[2] if len(fields) > 2 else "" for fields in
            (line.split(None, 2) for line in listed.splitlines() if line.startswith("    "))}


def set_note(name, value=""):
    subprocess.run(["wine", "reg", "add", NOTES, "/v", name, "/d", value, "/f"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)


def remove_notes():
    for name in notes():
        if name.startswith("ClosedBy"):
            subprocess.run(["wine", "reg", "delete", NOTES, "/v", name, "/f"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)


def shortcuts():
    drive_c = os.path.join(os.environ["WINEPREFIX"], "drive_c")
    return [os.path.join(root, name) for root, _, names in os.walk(drive_c)
            for name in names if name == "Halvotren.lnk"]


class ReleaseFolder(unittest.TestCase):
    def test_the_package_fits_the_update_paths_limit(self):
        size = os.path.getsize(PACKAGE)
        print("\n%s: %d bytes" % (os.path.basename(PACKAGE), size))
        self.assertLess(size, INSTALLER_LIMIT)

    def test_a_release_the_update_path_would_refuse_is_not_laid_out(self):
        with tempfile.TemporaryDirectory() as work:
            for size, made in ((INSTALLER_LIMIT, True), (INSTALLER_LIMIT + 1, False)):
                package = os.path.join(work, "p.msi")
                with open(package, "wb") as f:
                    f.write(b"\0" * size)
                out = os.path.join(work, "site-%d" % size)
                status = release_folder(package, "1.1", BASE_URL + "/", out)
                self.assertEqual(0 if made else 1, status.returncode, status.stderr)
                self.assertEqual(made, os.path.exists(out))
            with open(os.path.join(work, "site-%d" % INSTALLER_LIMIT, "downloads", "halvotren.ver"), "rb") as f:
                self.assertEqual(b"1.1:" + BASE_URL.encode() + b"/Halvotren-1.1.msi", f.read())

    def test_a_release_without_a_base_url_is_not_made(self):
        with tempfile.TemporaryDirectory() as work:
            for args in ((), ("--base-url", "")):
                with self.subTest(args=args):
                    status = subprocess.run(["bash", os.path.join(SOURCE, "scripts", "release.sh"), *args,
                                             "--unsigned", "--out", os.path.join(work, "site"),
                                             "--build-dir", os.path.join(work, "build")],
                                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                    self.assertEqual(2, status.returncode, status.stderr)
                    self.assertIn("usage: release.sh --base-url URL", status.stderr)
                    self.assertFalse(os.path.exists(os.path.join(work, "site")))

    def test_a_release_missing_a_signature_or_a_timestamp_must_say_so(self):
        with tempfile.TemporaryDirectory() as work:
            key, chain = os.path.join(work, "update.pem"), os.path.join(work, "chain.pem")
            for name in (key, chain):
                open(name, "w").close()
            for args in ((), ("--update-key", key), ("--cert", chain, "--key", key, "--update-key", key)):
                with self.subTest(args=args):
                    status = release("--out", os.path.join(work, "site"), *args)
                    self.assertEqual(1, status.returncode, status.stderr)
                    self.assertIn("--unsigned" if len(args) < 4 else "--timestamp", status.stderr)
                    self.assertFalse(os.path.exists(os.path.join(work, "site")))

    def test_the_package_starts_the_program_as_the_user_and_only_with_a_user_interface(self):
        # Type 18 (an exe from an installed file), asynchronous and not
        # waited for (+192), impersonating: no 0x800 bit. The program is
        # told that the installation started it. Type 2 (a program of the
        # Binary table), waited for, its exit code ignored (+64), closes the
        # running one.
        # Each run of the closing program names its product, and no path: a
        # restart asks Windows Installer where the program is. Type 51 sets
        # a property.
        self.assertEqual([["CloseHalvotren", "66", "CloseHalvotren", "/close [ProductCode]", ""],
                          ["ForgetClosedHalvotren", "66", "CloseHalvotren", "/forget [ProductCode]", ""],
                          ["NoteCosted", "51", "HalvotrenCosted", "1", ""],
                          ["RestartCancelledHalvotren", "66", "CloseHalvotren", RESTART, ""],
                          ["RestartHalvotren", "66", "CloseHalvotren", RESTART, ""],
                          ["StartHalvotren", "210", "HalvotrenExe", "/installed", ""]],
                         sorted(msi_table("CustomAction")))
        # However an installation with a user interface ends, in either
        # sequence: a success forgets what the closing program closed, a
        # cancel (-2) and a fatal error or rollback (-3) start it again.
        for table in ("InstallExecuteSequence", "InstallUISequence"):
            self.assertEqual([["RestartHalvotren", RESTART_AT_THE_END, "-3"],
                              ["RestartCancelledHalvotren", RESTART_AT_THE_END, "-2"],
                              ["ForgetClosedHalvotren", AT_THE_END, "-1"]],
                             sorted((row for row in msi_table(table) if int(row[2]) < 0), key=lambda r: int(r[2])),
                             table)
        conditions = {row[0]: row[1] for row in msi_table("InstallExecuteSequence")}
        self.assertEqual("NOT Installed AND UILevel > 2 AND NOT HALVOTREN_WAITER", conditions["StartHalvotren"])
        self.assertEqual('UILevel > 2 AND NOT UPGRADINGPRODUCTCODE AND ((NOT Installed AND NOT HALVOTREN_WAITER) '
                         'OR REMOVE~="ALL")', conditions["CloseHalvotren"])
        # The waiter's property and those wixl's upgrade sets reach the
        # server side of an elevated installation with a user interface.
        [secure] = [row[1] for row in msi_table("Property") if row[0] == "SecureCustomProperties"]
        self.assertEqual(["HALVOTREN_WAITER", "WIX_DOWNGRADE_DETECTED", "WIX_UPGRADE_DETECTED"],
                         sorted(secure.split(";")))
        # The shortcuts live in a profile, so their components are keyed in
        # the user's registry (root 1).
        self.assertEqual({"1"}, {row[1] for row in msi_table("Registry")})
        # The running program ends before Windows Installer looks at which
        # files are in use; the old version goes inside the installation's
        # transaction, before anything is installed, so that a rollback
        # installs it again; and the new one starts once all is done. wixl
        # moves RemoveExistingProducts when a custom action's Id changes,
        # and places Before= where it likes.
        order = {row[0]: int(row[2]) for row in msi_table("InstallExecuteSequence")}
        for table in ("InstallExecuteSequence", "InstallUISequence"):
            placed = {row[0]: int(row[2]) for row in msi_table(table)}
            self.assertEqual(placed["CostFinalize"] + 1, placed["NoteCosted"], table)
        self.assertLess(order["CloseHalvotren"], order["InstallValidate"])
        self.assertLess(order["InstallValidate"], order["InstallInitialize"])
        self.assertLess(order["InstallInitialize"], order["RemoveExistingProducts"])
        self.assertLess(order["RemoveExistingProducts"], order["InstallFiles"])
        self.assertLess(order["InstallFinalize"], order["StartHalvotren"])

    def test_a_release_whose_sha256_signature_does_not_verify_is_refused(self):
        # Its own build tree, kept between runs; the program is linked and
        # signed again with this run's certificates, which sign the package too.
        tree = os.path.join(BUILD, "release-test-damaged")
        if os.path.exists(os.path.join(tree, "Halvotren.exe")):
            os.remove(os.path.join(tree, "Halvotren.exe"))
        pki = signing.Pki()
        self.addCleanup(pki.remove)
        args = ("--version", "1.1", "--out", pki.path("site"), "--build-dir", tree, "--update-key", pki.update_key,
                "--cert", pki.chain, "--key", pki.key, "--ca", pki.root, "--no-timestamp")
        self.assertEqual(0, release(*args).returncode)
        # Every file's inode, size and time to the nanosecond.
        listing = ["ls", "-lRi", "--time-style=full-iso", pki.path("site")]
        laid_out = subprocess.run(listing, stdout=subprocess.PIPE, check=True).stdout
        # Made again, the tree builds nothing: the damaged package is checked.
        self.damage_nested_signature(os.path.join(tree, "Halvotren-1.1.msi"))
        refused = release(*args)
        self.assertEqual(1, refused.returncode, "a package whose SHA-256 signature does not verify was released:\n"
                         + refused.stderr)
        self.assertIn("release: Halvotren-1.1.msi: its nested SHA-256 signature or its timestamp does not verify",
                      refused.stderr)
        self.assertEqual(laid_out, subprocess.run(listing, stdout=subprocess.PIPE, check=True).stdout,
                         "the refused release changed the release folder")

    @staticmethod
    def damage_nested_signature(package):
        """Flips a byte of the SHA-256 signature's value, which the SHA-1
        signature around it does not cover, read with the release check's
        own readers."""
        import sys
        sys.path.insert(0, os.path.join(SOURCE, "scripts"))
        import msi_streams
        import signer
        stream = msi_streams.streams(package)[signer.SIGNATURE_STREAM]
        outer = signer.elements(signer.signed_data(signer.elements(stream, 1)[0][1])[1][0][1])
        [nested] = [values[0][1] for kind, values in signer.attributes(outer[-1][1])
                    if kind == signer.NESTED_SIGNATURE]
        value = [body for tag, body in signer.elements(signer.signed_data(nested)[1][0][1])
                 if tag == signer.OCTETS][-1]
        at = stream.index(value) + len(value) // 2
        msi_streams.overwrite(package, signer.SIGNATURE_STREAM, stream[:at] + bytes([stream[at] ^ 1]) + stream[at + 1:])


class UpdateLoop(BedTestCase, TrayMixin):
    @classmethod
    def setUpClass(cls):
        cls.pki = signing.Pki()
        cls.timestamps = TimestampServer(*cls.pki.tsa)
        cls.sites = {}
        try:
            # 1.1 twice: the second release replaces the first in its folder.
            for version in ("1.05", "1.1", "1.1"):
                out = os.path.join(cls.pki.folder, "site-" + version)
                made = release("--version", version, "--out", out, "--build-dir",
                               os.path.join(BUILD, "release-test-" + version), "--update-key", cls.pki.update_key,
                               "--cert", cls.pki.chain, "--key", cls.pki.key, "--ca", cls.pki.root,
                               "--timestamp", cls.timestamps.url)
                assert made.returncode == 0, made.stderr
                cls.sites[version] = os.path.join(out, "downloads")
                cls.last_release = made
        except BaseException:
            cls.timestamps.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        # Kept for a rebuild that signs again.
        cls.timestamps.stop()
        cls.pki.remove()

    def setUp(self):
        super().setUp()
        self.assertTrue(SOURCE and BUILD and PACKAGE, "run the tests through scripts/test.sh")
        self.server = UpdateServer()
        self.addCleanup(self.server.stop)
        update.set_proxy(self.server.port)
        self.addCleanup(update.remove_proxy)
        self.addCleanup(update.clear_pending_renames)
        self.installed = []
        self.addCleanup(self.uninstall)
        self.addCleanup(self.close_installed_program)
        self.addCleanup(update.remove_update_folders)

    def package(self, version):
        return os.path.join(self.sites[version], "Halvotren-%s.msi" % version)

    def install(self, package, interface="/qn", *properties):
        """msiexec's exit code; a package it installed is uninstalled after
        the test, unless the test did that itself."""
        code = msiexec("/i", windows_path(package), interface, *properties)
        if code == 0:
            self.installed.append(package)
        return code

    def uninstalled(self, package, interface="/qn"):
        self.installed.remove(package)
        return msiexec("/x", windows_path(package), interface)

    def uninstall(self):
        for package in reversed(self.installed):
            msiexec("/x", windows_path(package), "/qn")

    def close_installed_program(self):
        """The installer started it, so the test cannot end it as its own."""
        if self.driver.call("window", 1000)["ok"]:
            self.post(WM_CLOSE)
            self.assertTrue(self.driver.call("gone", 20000)["ok"], "the installed Halvotren did not close")

    def installed_version(self):
        info = self.driver.call("version", INSTALLED)
        return info.get("FileVersion") if info["ok"] else None

    def running(self):
        """(pid, number of Halvotren windows), or None when none runs."""
        answer = self.driver.call("window", 1000)
        return (answer["pid"], answer["windows"]) if answer["ok"] else None

    def install_and_run_105(self):
        """1.05 installed with the basic user interface, which starts it,
        telling it so: its pid once its icon is green."""
        self.assertEqual(0, self.install(self.package("1.05"), "/qb"))
        pid, windows = wait_until(self.running, 30, what="the installed program to start")
        self.assertEqual(1, windows)
        self.wait_tray("green")
        [started] = prefix_processes("Halvotren.exe")
        with open("/proc/%d/cmdline" % started, "rb") as f:
            self.assertIn(b"/installed", f.read())
        return pid

    def install_ending_badly(self, package, end, action="/i", ended_from_outside=False, meanwhile=None):
        """msiexec's exit code for an installation of package, with the
        basic user interface, that ends as HALVOTREN_TEST_END says; the box
        of a failure is dismissed, or the installer ended from outside
        while it is open, after `meanwhile` has run."""
        installer = subprocess.Popen(["wine", "msiexec", action, windows_path(package), "/qb",
                                      "HALVOTREN_TEST_END=" + end],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if end in ("fail", "early"):
                self.assertIn("This installation fails here.", self.installers_box("Error")["text"])
                if meanwhile is not None:
                    meanwhile()
                if ended_from_outside:
                    self.assertLess(0, self.driver.call("terminate", "msiexec.exe", 1)["ended"])
                else:
                    self.press_installers("Error")
            return installer.wait(120)
        finally:
            if installer.poll() is None:
                installer.kill()

    @contextlib.contextmanager
    def on_installers_boxes(self):
        """While it acts on no Halvotren the driver looks for boxes among
        every process's: a Halvotren may run beside the installer's box."""
        self.assertTrue(self.driver.call("target", 0xFFFFFFFF)["ok"])
        try:
            yield
        finally:
            self.driver.call("target", 0)

    def installers_box(self, caption):
        with self.on_installers_boxes():
            return self.box(caption, timeout=120)

    def press_installers(self, caption):
        with self.on_installers_boxes():
            self.press(caption)

    def start_by_hand(self):
        """The installed program, started as the user starts it: its pid."""
        started = subprocess.Popen(["wine", INSTALLED], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: started.poll() is not None or started.kill() or started.wait())
        return wait_until(self.running, 30, what="the Halvotren started by hand")[0]

    def started_again(self, old_pid, what, program=INSTALLED):
        """A Halvotren other than old_pid runs, alone, started as the package
        starts one from where program is installed: its pid."""
        pid, windows = self.replaced(old_pid, what)
        self.assertEqual(1, windows, "exactly one Halvotren runs")
        [started] = prefix_processes("Halvotren.exe")
        with open("/proc/%d/cmdline" % started, "rb") as f:
            self.assertEqual(program.encode() + b"\0/installed", f.read().rstrip(b"\0"))
        return pid

    def replaced(self, old_pid, what):
        """Waits for a Halvotren other than old_pid to run: (pid, windows)."""
        def another():
            now = self.running()
            return now if now and now[0] != old_pid else None
        return wait_until(another, 60, what=what)

    def assert_update_cleared(self):
        """The waiter has ended and, once the program that runs now has
        started, nothing of the update stays in the temporary folder."""
        wait_until(lambda: not waiter_processes(), 60, what="the waiter to end")
        wait_until(lambda: not update.update_folders(), 60, what="the update's folder to be removed")

    def assert_none_starts(self, what):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            self.assertIsNone(self.running(), what)
            time.sleep(0.5)

    def test_a_release_is_signed_timestamped_and_checked(self):
        downloads = self.sites["1.1"]
        self.assertEqual(["Halvotren-1.1.buildinfo", "Halvotren-1.1.msi", "Halvotren-1.1.msi.sig", "halvotren.ver"],
                         sorted(os.listdir(downloads)))
        # Both versions: the exe and the package, each signature stamped;
        # 1.1 made again from its built tree has nothing new to sign.
        self.assertEqual(["authenticode", "rfc3161"] * 4, self.timestamps.requests)
        # Made again, 1.1 took its own place, and says where it is.
        self.assertEqual(["site-1.05", "site-1.1"], sorted(name for name in os.listdir(self.pki.folder)
                                                           if name.startswith(("site-", ".release", ".previous"))))
        self.assertIn(" in %s\n" % downloads, self.last_release.stdout)
        # The release's build tree builds again, configured afresh from its cache.
        tree = os.path.join(BUILD, "release-test-1.1")
        for command in (["cmake", tree], ["cmake", "--build", tree]):
            self.assertEqual(0, subprocess.run(command, stdout=subprocess.DEVNULL).returncode, command)
        for signed in (os.path.join(BUILD, "release-test-1.1", "Halvotren.exe"), self.package("1.1")):
            for index, digest, serial in ((0, "SHA1", False), (1, "SHA256", True)):
                with self.subTest(file=os.path.basename(signed), signature=digest):
                    status, output = verify(signed, self.pki.root, index)
                    lines = output.splitlines()
                    self.assertEqual(0, status, output)
                    self.assertIn("Message digest algorithm: " + digest, lines)
                    self.assertIn("Signature verification: ok", lines)
                    # Only an RFC 3161 timestamp has a serial number.
                    self.assertIn("Timestamp Server Signature verification: ok", lines)
                    self.assertEqual(serial, any(line.startswith("Timestamp serial number: ") for line in lines))
        with tempfile.TemporaryDirectory() as work:
            message = os.path.join(work, "message")
            with open(message, "wb") as f, open(self.package("1.1"), "rb") as package:
                f.write(b"Halvotren update\n1.1\n" + package.read())
            checked = subprocess.run(["openssl", "pkeyutl", "-verify", "-inkey", self.pki.update_key, "-rawin",
                                      "-in", message, "-sigfile", self.package("1.1") + ".sig"],
                                     stdout=subprocess.DEVNULL)
            self.assertEqual(0, checked.returncode)

    def test_an_installed_program_updates_itself_and_the_new_version_runs(self):
        # A silent install is a deployment: it starts nothing, and the
        # Startup shortcut starts the program at the next logon.
        self.assertEqual(0, self.install(self.package("1.05")))
        self.assertEqual("1.05", self.installed_version())
        found = shortcuts()
        self.assertTrue(any("Startup" in p or "StartUp" in p for p in found), found)
        self.assertTrue(any(os.sep + "Programs" + os.sep + "Halvotren.lnk" in p for p in found), found)
        self.assert_none_starts("a silent install started Halvotren")

        # 1.05 runs from its release's build folder, not from where it is
        # installed: the waiter starts the program the installation put in
        # place, wherever the old one ran.
        old_pid = self.start_program(exe=os.path.join(BUILD, "release-test-1.05", "Halvotren.exe"))["pid"]
        # The driver watches who starts what from now on.
        self.driver.call("processes")
        for name in os.listdir(self.sites["1.1"]):
            with open(os.path.join(self.sites["1.1"], name), "rb") as f:
                self.server.serve("/downloads/" + name, Answer(f.read()))
        self.command(update.CHECK_FOR_UPDATES)
        self.box(update.UPDATE_AVAILABLE, timeout=update.BOX_TIMEOUT)
        self.press(update.UPDATE_AVAILABLE, update.IDYES)
        # 1.05 takes the package its publisher's update key signed; Wine's
        # own Windows Installer upgrades it in place, and the waiter starts
        # the new version.
        wait_until(lambda: self.installed_version() == "1.1", 120, interval=1,
                   what="the installed program to become 1.1")
        self.installed[-1] = self.package("1.1")
        new_pid, windows = self.replaced(old_pid, "Halvotren 1.1 to start")
        self.assertEqual(1, windows, "exactly one Halvotren runs")
        self.assertTrue(self.driver.call("target", new_pid)["ok"])
        self.wait_tray("green")
        # Started by the waiter, which the old program started, and not by
        # the installation, which would have said so on its command line.
        parent = self.driver.call("window", 1000)["parent"]
        seen = self.driver.call("processes")["processes"]
        self.assertIn([parent, old_pid, "Halvotren.exe"], seen, "1.1's parent %d is not the waiter" % parent)
        self.assert_update_cleared()
        # The installed program, which Windows Installer names, and not
        # the one that ran.
        [started] = prefix_processes("Halvotren.exe")
        with open("/proc/%d/cmdline" % started, "rb") as f:
            self.assertEqual(INSTALLED.encode(), f.read().rstrip(b"\0"))
        self.assertEqual(1, self.running()[1], "exactly one Halvotren runs")
        self.assertEqual(1, len(self.server.seen("/downloads/Halvotren-1.1.msi")))
        self.assertEqual(1, len(self.server.seen("/downloads/Halvotren-1.1.msi.sig")))

        # An uninstall removes the shortcuts and starts nothing.
        self.close_installed_program()
        self.assertEqual(0, self.uninstalled(self.package("1.1")))
        self.assertIsNone(self.installed_version())
        self.assertEqual([], shortcuts())
        self.assert_none_starts("the uninstall started Halvotren")

    def test_the_same_version_replaces_the_installed_one_and_an_older_one_is_refused(self):
        # A rebuild of 1.1 that differs, its program signed again (new
        # timestamps), has a product code of its own.
        tree = os.path.join(BUILD, "release-test-1.1")
        os.remove(os.path.join(tree, "Halvotren.exe"))
        subprocess.run(["cmake", "--build", tree, "--target", "halvotren_package"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rebuilt = os.path.join(tree, "Halvotren-1.1.msi")
        codes = [[row for row in msi_table("Property", package) if row[0] == "ProductCode"]
                 for package in (self.package("1.1"), rebuilt)]
        self.assertNotEqual(*codes)
        self.assertEqual(0, self.install(self.package("1.1")))
        self.assertEqual(0, self.install(rebuilt))
        # The rebuild replaced 1.1: it alone is left to uninstall.
        self.installed.remove(self.package("1.1"))
        self.assertEqual(1, installed_products())
        self.assertNotEqual(0, self.install(self.package("1.05")))
        self.assertEqual("1.1", self.installed_version())
        self.assertEqual(1, installed_products())

    def test_a_package_installed_over_the_running_program_leaves_one_the_new_one(self):
        # With the basic user interface, as a user double-clicks a package:
        # the running 1.05 is closed, its file replaced at once, and 1.1
        # started.
        old_pid = self.install_and_run_105()
        code = self.install(self.package("1.1"), "/qb")
        print("\n/qb over a running 1.05: msiexec ended with %d" % code)
        self.assertEqual(0, code, "not 0: the program's file was in use")
        self.installed.remove(self.package("1.05"))
        new_pid, windows = self.replaced(old_pid, "Halvotren 1.1 to start")
        self.assertEqual(1, windows, "exactly one Halvotren runs")
        self.assertTrue(self.driver.call("target", new_pid)["ok"])
        self.wait_tray("green")
        self.command(ABOUT)
        self.assertIn("\nVersion 1.1\n", self.box("About")["text"])
        self.press("About")
        # Removed while it runs, with a user interface: it is closed first,
        # and nothing is left.
        code = self.uninstalled(self.package("1.1"), "/qb")
        print("/qb uninstall of a running 1.1: msiexec ended with %d" % code)
        self.assertEqual(0, code)
        self.assertTrue(self.driver.call("gone", 20000)["ok"], "the uninstalled Halvotren still runs")
        self.assertIsNone(self.installed_version())
        self.assert_none_starts("the uninstall started Halvotren")

    def test_an_installation_that_does_not_finish_starts_again_what_it_closed(self):
        # 1.1 fails, or is cancelled, after its closing action has ended the
        # running 1.05. Windows Installer would roll back the removal of
        # 1.05 had it come; Wine runs it at once and never rolls it back,
        # so here the installation ends before it. The package lies beside
        # the releases, where the uninstall after a failed test finds it.
        work = os.path.join(self.pki.folder, "ends-badly")
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        ends_badly = package_that_ends_badly(self.package("1.1"), work)
        self.addCleanup(remove_notes)
        pid = self.install_and_run_105()
        for end, code in (("fail", FATAL_ERROR), ("cancel", USER_EXIT)):
            with self.subTest(end=end):
                ended = self.install_ending_badly(ends_badly, end)
                print("\n/qb install of 1.1 over a running 1.05 that ends with a %s: msiexec ended with %d" % (end, ended))
                self.assertEqual(code, ended)
                self.assertEqual("1.05", self.installed_version())
                pid = self.started_again(pid, "the closed Halvotren to start again")
                self.wait_tray("green")
        # A restart takes its note away: after it, an installation that
        # fails before its closing action, having closed nothing, starts
        # nothing. A program that an installation starts has done so before
        # msiexec ends.
        self.close_installed_program()
        self.assertEqual(FATAL_ERROR, self.install_ending_badly(ends_badly, "early"))
        self.assertEqual([], prefix_processes("Halvotren.exe"), "a restart left its note behind")
        # A Halvotren started by hand after the closing action is the one
        # that runs afterwards, alone.
        self.start_by_hand()
        by_hand = []
        self.assertEqual(FATAL_ERROR, self.install_ending_badly(ends_badly, "fail",
                                                                 meanwhile=lambda: by_hand.append(self.start_by_hand())))
        self.assertEqual(1, len(prefix_processes("Halvotren.exe")), "a restart started a second Halvotren")
        self.assertEqual((by_hand[0], 1), self.running())
        # One that does not end within the closing program's wait is not
        # noted: ended afterwards (here, stopped and then killed), it is not
        # started again.
        self.close_installed_program()
        self.start_by_hand()
        [hung] = prefix_processes("Halvotren.exe")
        os.kill(hung, signal.SIGSTOP)
        self.assertEqual(FATAL_ERROR, self.install_ending_badly(ends_badly, "fail",
                                                                 meanwhile=lambda: os.kill(hung, signal.SIGKILL)))
        self.assertEqual([], prefix_processes("Halvotren.exe"), "a Halvotren that did not end was noted as closed")
        # An installation ended from outside runs nothing more, on Windows
        # too, and leaves its note, which only its own product reads.
        self.start_by_hand()
        self.install_ending_badly(ends_badly, "fail", ended_from_outside=True)
        self.assertEqual([], prefix_processes("Halvotren.exe"))
        new, old = "ClosedBy" + product_code(ends_badly), "ClosedBy" + product_code(self.package("1.05"))
        self.assertIn(new, notes())
        # The removal of the old version inside an upgrade, as Windows runs
        # it: nested, with the upgrade's user interface and its code. The
        # old package's closing program does not run there (the Halvotren
        # running stays), nor do its exit actions (its own product's note
        # stays), and the upgrade's note is left alone.
        set_note(old)
        pid = self.start_by_hand()
        code = msiexec("/x", windows_path(self.package("1.05")), "/qb", "REMOVE=ALL",
                       "UPGRADINGPRODUCTCODE=" + product_code(ends_badly))
        print("/qb removal of 1.05 as an upgrade's: msiexec ended with %d" % code)
        self.assertEqual(0, code)
        self.installed.remove(self.package("1.05"))
        self.assertEqual(0, installed_products())
        self.assertEqual((pid, 1), self.running(), "the old package's closing program ran in an upgrade's removal")
        self.assertIn(old, notes(), "the old package's exit actions ran in an upgrade's removal")
        self.assertIn(new, notes(), "an upgrade's removal of the old version took the upgrade's note")
        self.close_installed_program()
        # The next installation, which closes nothing, then starts nothing.
        self.assertEqual(0, self.install(self.package("1.05")))
        self.assertEqual(FATAL_ERROR, self.install_ending_badly(ends_badly, "fail"))
        self.assertEqual([], prefix_processes("Halvotren.exe"), "an installation that closed nothing started one")
        self.assertNotIn(new, notes())
        # An uninstall that is cancelled or fails once it has closed the
        # program. (On Windows the package names no file for a component
        # being removed, so only the registration finds the program then.)
        self.assertEqual(0, self.install(ends_badly, "/qb"))
        self.installed.remove(self.package("1.05"))
        pid = wait_until(self.running, 30, what="1.1 to start")[0]
        for end, code in (("cancel", USER_EXIT), ("fail", FATAL_ERROR)):
            ended = self.install_ending_badly(ends_badly, end, "/x")
            print("/qb uninstall of a running 1.1 that ends with a %s: msiexec ended with %d" % (end, ended))
            self.assertEqual(code, ended)
            self.assertEqual("1.1", self.installed_version())
            pid = self.started_again(pid, "the Halvotren the uninstall closed to start again")
        self.close_installed_program()
        # A note planted by another program, in the form the versions before
        # kept it (a path) and in the refused package's own: a downgrade,
        # refused before costing names any file, starts nothing.
        planted = os.path.join(self.pki.folder, "planted")
        os.makedirs(planted, exist_ok=True)
        shutil.copy(EXE, os.path.join(planted, "Halvotren.exe"))
        set_note("ClosedByInstallation", windows_path(os.path.join(planted, "Halvotren.exe")))
        set_note(old)
        installer = subprocess.Popen(["wine", "msiexec", "/i", windows_path(self.package("1.05")), "/qb"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertIn("A newer version of Halvotren is already installed.",
                          self.installers_box("Install Failed")["text"])
            self.press_installers("Install Failed")
            code = installer.wait(120)
        finally:
            if installer.poll() is None:
                installer.kill()
        print("/qb downgrade to 1.05 with a planted note: msiexec ended with %d" % code)
        self.assertEqual(FATAL_ERROR, code)
        self.assertEqual([], prefix_processes("Halvotren.exe"), "a refused downgrade started a planted program")
        self.assertEqual(windows_path(os.path.join(planted, "Halvotren.exe")), notes()["ClosedByInstallation"])
        # A copy installed in a folder of its own, closed by a newer package
        # that then fails: started again from its own folder, where the
        # failed upgrade's package would have put its program.
        self.assertEqual(0, self.uninstalled(ends_badly))
        self.assertEqual(0, self.install(self.package("1.05"), "/qb", "INSTALLDIR=" + ELSEWHERE))
        pid = wait_until(self.running, 30, what="1.05 to start from its own folder")[0]
        self.assertEqual(FATAL_ERROR, self.install_ending_badly(ends_badly, "fail"))
        self.started_again(pid, "the copy in its own folder to start again", ELSEWHERE + "Halvotren.exe")

    def test_a_package_installed_without_a_user_interface_leaves_the_running_program_alone(self):
        # A deployment: nothing is closed and nothing started; 1.05 goes on
        # watching, and its file is replaced at the next restart.
        old_pid = self.install_and_run_105()
        code = self.install(self.package("1.1"))
        print("\n/qn over a running 1.05: msiexec ended with %d" % code)
        self.assertIn(code, (0, RESTART_REQUIRED))
        # 1.1 replaced 1.05 as the installed product.
        self.installed = [self.package("1.1")]
        self.assertEqual((old_pid, 1), self.running())
        self.assert_tray_stays("green", 5)
        # Nor does an uninstall without one end it.
        code = self.uninstalled(self.package("1.1"))
        print("/qn uninstall of a running 1.05: msiexec ended with %d" % code)
        self.assertEqual((old_pid, 1), self.running())

    def test_an_update_that_does_not_install_brings_the_old_version_back(self):
        # Signed for 1.2 and taken by 1.05, but Windows Installer refuses it
        # before it changes anything; under Wine it shows "Install Failed".
        with open(os.environ["HALVOTREN_REFUSED_PACKAGE"], "rb") as f:
            refused = f.read()
        url = BASE_URL + "/Halvotren-1.2.msi"
        self.server.serve("/downloads/halvotren.ver", Answer("1.2:" + url))
        self.server.serve("/downloads/Halvotren-1.2.msi", Answer(refused))
        self.server.serve("/downloads/Halvotren-1.2.msi.sig",
                          Answer(update.update_signature(self.pki.update_key, "1.2", refused)))
        old_pid = self.install_and_run_105()
        for ending in ("the user presses OK", "the installer is ended from outside"):
            with self.subTest(ending=ending):
                self.command(update.CHECK_FOR_UPDATES)
                self.box(update.UPDATE_AVAILABLE, timeout=update.BOX_TIMEOUT)
                self.press(update.UPDATE_AVAILABLE, update.IDYES)
                self.box("Install Failed", timeout=120)
                if ending.startswith("the user"):
                    self.press("Install Failed")
                else:
                    self.assertLess(0, self.driver.call("terminate", "msiexec.exe", 1)["ended"])
                old_pid, windows = self.replaced(old_pid, "Halvotren 1.05 to come back")
                self.assertEqual(1, windows, "exactly one Halvotren runs")
                self.wait_tray("green")
                self.assert_update_cleared()
                self.assertEqual("1.05", self.installed_version())


if __name__ == "__main__":
    unittest.main()

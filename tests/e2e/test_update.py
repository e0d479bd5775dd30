"""Check for Updates, command 107: the version file, the boxes, and the
download and start of the installer.

The update host's name is built into the program, so the tests make a
loopback server the prefix's proxy: WinINet, opened with the preconfigured
settings, then sends every request there, and the server answers it itself.
The port is the system's choice for each test, so the proxy is set in the
prefix by each test and removed again after it; no other test uses the
network.
"""
import os
import random
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from bed import (BED_C, EXE, PREFIX, WM_CLOSE, BedTestCase, TrayMixin, clear_launched, close_started_programs,
                 launched, launches, mapped_files, prefix_processes, set_firewall, wait_until, waiter_processes,
                 wine)
from update_server import Answer, UpdateServer

CHECK_FOR_UPDATES = 107
IDOK, IDYES, IDNO = 1, 6, 7

VERSION_PATH = "/downloads/halvotren.ver"
INSTALLER_PATH = "/downloads/halvotren-1.1.msi"
INSTALLER_URL = "http://www.halvotren.example" + INSTALLER_PATH
SIGNATURE_PATH = INSTALLER_PATH + ".sig"
# The build's version, and versions above it: the scenarios hold whatever
# HALVOTREN_VERSION the build has.
VERSION = os.environ.get("HALVOTREN_VERSION", "")
NEWER = "%g" % (float(VERSION or 0) + 0.05)
NEWER_STILL = "%g" % (float(NEWER) + 0.1)
# NEWER's number written otherwise, as "1.10" is 1.1.
NEWER_REWRITTEN = NEWER + ("0" if "." in NEWER else ".0")
OFFER = "%s:%s\r\n" % (NEWER, INSTALLER_URL)
INSTALLER_NAME = "~halvotren_installer.msi"
UPDATE_FOLDER = "~halvotren_update"
RECEIVED = os.path.join(BED_C, "received.msi")
MSIEXEC_EXIT = os.path.join(BED_C, "msiexec_exit")
INSTALLER_LIMIT = 999999

NO_UPDATES = "No Updates"
NO_UPDATES_TEXT = "There are no updates availabe for Halvotren %s at\nthe current time." % VERSION
UPDATE_AVAILABLE = "Update Available"


def offer_text(version, url):
    return ("There is an update to Halvotren available. The current\n"
            "version %s can be upgraded to %s by going to:\n\n%s" % (VERSION, version, url))


UPDATE_AVAILABLE_TEXT = offer_text(NEWER, INSTALLER_URL)
ERROR = "Halvotren Error"
ERROR_TEXT = "Unable to check for updates/or download updates at this time."
TEXT_LIMIT = 1023  # the message buffer holds 1023 characters and its end

INTERNET_SETTINGS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"
SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"
PENDING_RENAMES = "PendingFileRenameOperations"

# Wine takes a while to load WinINet and msi the first time.
BOX_TIMEOUT = 45
# How long the quick build waits on the network for a whole check.
QUICK_CHECK_SECONDS = 20


def set_proxy(port):
    wine("reg", "add", INTERNET_SETTINGS, "/v", "ProxyServer", "/t", "REG_SZ", "/d",
         "127.0.0.1:%d" % port, "/f")
    wine("reg", "add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")


def remove_proxy():
    for value in ("ProxyEnable", "ProxyServer"):
        wine("reg", "delete", INTERNET_SETTINGS, "/v", value, "/f", check=False)


def pending_renames():
    """The strings of the PendingFileRenameOperations value, or None. reg
    prints them joined by "\\0"; each operation is a source and a
    destination, an empty one for a deletion."""
    query = wine("reg", "query", SESSION_MANAGER, "/v", PENDING_RENAMES, check=False)
    if query.returncode != 0:
        return None
    for line in query.stdout.decode(errors="replace").splitlines():
        if line.strip().startswith(PENDING_RENAMES):
            return line.split("REG_MULTI_SZ", 1)[1].strip().split("\\0")
    return None


def clear_pending_renames():
    wine("reg", "delete", SESSION_MANAGER, "/v", PENDING_RENAMES, "/f", check=False)


_temp = []


def temp_folder():
    """(Windows path, Linux path) of the prefix user's temporary folder."""
    if not _temp:
        windows = wine("cmd", "/c", "echo %TEMP%").stdout.decode().strip()
        unix = subprocess.run(["winepath", "-u", windows], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, check=True).stdout.decode().strip()
        _temp.append((windows.rstrip("\\"), os.path.realpath(unix)))
    return _temp[0]


def installer_paths(attempt=0):
    """(Windows path, Linux path) of the package saved in the update folder
    of that attempt."""
    windows, unix = temp_folder()
    folder = UPDATE_FOLDER + str(attempt)
    return windows + "\\" + folder + "\\" + INSTALLER_NAME, os.path.join(unix, folder, INSTALLER_NAME)


def update_folders():
    """What updates left in the temporary folder."""
    unix = temp_folder()[1]
    return sorted(name for name in os.listdir(unix) if name.startswith(UPDATE_FOLDER))


def remove_update_folders():
    unix = temp_folder()[1]
    for name in update_folders():
        path = os.path.join(unix, name)
        if os.path.islink(path):
            os.remove(path)
        else:
            shutil.rmtree(path, ignore_errors=True)
    for path in (RECEIVED, MSIEXEC_EXIT):
        if os.path.exists(path):
            os.remove(path)


def foreign_copy(library, destination):
    """A copy of one of Wine's own libraries that Wine takes for anyone's:
    without the mark that names it Wine's built-in one."""
    with open(library, "rb") as f:
        data = bytearray(f.read())
    assert data[0x40:0x50] == b"Wine builtin DLL", library
    data[0x40:0x50] = bytes(16)
    with open(destination, "wb") as f:
        f.write(data)


def test_package():
    with open(os.environ["HALVOTREN_TEST_PACKAGE"], "rb") as f:
        return f.read()


def padded(data, size):
    return data + b"\0" * (size - len(data))


def junk(size, seed):
    """Bytes of every value but the colon, so no split can succeed."""
    chooser = random.Random(seed)
    return bytes(chooser.choice([b for b in range(1, 256) if b != ord(":")]) for _ in range(size))


def update_signature(key, version_text, package):
    """The publisher's signature of a package offered as version_text, made
    by openssl as the release command makes it."""
    with tempfile.TemporaryDirectory() as work:
        message, signature = os.path.join(work, "message"), os.path.join(work, "signature")
        with open(message, "wb") as f:
            f.write(b"Halvotren update\n" + version_text.encode() + b"\n" + package)
        subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", message,
                        "-out", signature], check=True, stderr=subprocess.PIPE)
        with open(signature, "rb") as f:
            return f.read()


# ctest runs the classes below by name, in two parts (tests/CMakeLists.txt):
# a new class is named there too.
class UpdateBed(BedTestCase, TrayMixin):
    """A running loopback update server, the prefix's proxy, for each test."""

    def setUp(self):
        super().setUp()
        self.assertTrue(os.environ.get("HALVOTREN_TEST_PACKAGE"), "run the tests through scripts/test.sh")
        self.server = UpdateServer()
        self.addCleanup(self.server.stop)
        set_proxy(self.server.port)
        self.addCleanup(remove_proxy)
        self.addCleanup(clear_pending_renames)
        self.addCleanup(remove_update_folders)
        self.addCleanup(close_started_programs, self.driver)
        clear_pending_renames()
        remove_update_folders()

    def offer(self, version_file, installer=None, signature=None):
        self.server.reset()
        self.server.serve(VERSION_PATH, version_file if isinstance(version_file, Answer)
                          else Answer(version_file, content_type="text/plain"))
        if installer is not None:
            self.server.serve(INSTALLER_PATH, installer)
        if signature is not None:
            self.server.serve(SIGNATURE_PATH, signature)

    def start_check(self):
        """Runs the command: taken again as soon as the last check's last
        box is dismissed, whatever its thread still releases."""
        self.command(CHECK_FOR_UPDATES)

    def check(self, caption):
        """Runs the command and returns the box it opens."""
        self.start_check()
        return self.box(caption, timeout=BOX_TIMEOUT)

    def assert_box(self, box, text, buttons):
        self.assertEqual(text, box["text"])
        self.assertEqual(0, box["owner"])
        self.assertEqual(buttons, box["buttons"])
        self.assertEqual(1, box["count"])

    def update_libraries(self):
        """Which of wininet.dll and msi.dll the program maps now."""
        [pid] = prefix_processes(self.exe)
        return {os.path.basename(path).lower() for path in mapped_files(pid)} & {"wininet.dll", "msi.dll"}

    def assert_still_running(self):
        self.assertIsNone(self.program.poll(), "Halvotren ended")
        self.assertTrue(self.driver.call("window", 20000)["ok"], "Halvotren's window is gone")

    def accept_update(self, answer, exe=None, signature=None, installer_runs=True, read_for=0):
        """Yes to the offer of `answer`, read for `read_for` seconds: the
        program removes its icon, ends with status 0 and leaves the
        installation to its waiter."""
        clear_pending_renames()
        clear_launched()
        self.start_program(exe=exe, recorders=("msiexec.exe",))
        self.offer(OFFER, answer, signature)
        self.check(UPDATE_AVAILABLE)
        self.assert_no_box(ERROR, read_for)
        self.press(UPDATE_AVAILABLE, IDYES)
        self.assertEqual(0, self.wait_exit(60, "Halvotren did not end: no hand-over after Yes"))
        self.assertTrue(self.driver.call("gone", 20000)["ok"])
        # NIM_DELETE last: a shell keeps the icon of a program that ended
        # without deleting it until the mouse passes over it.
        calls = self.tray_calls()
        self.assertTrue(calls and calls[-1] == 2,
                        "no NIM_DELETE (2) as the last tray call before the hand-over: %s" % calls)
        if installer_runs:
            wait_until(launched, 30, what="msiexec to be started")
        wait_until(lambda: not waiter_processes(), 60, what="the waiter to end")

    def assert_started_again(self, attempt=0):
        """The waiter started the program again: one window, watching again.
        Closed, once its start has removed what the update left."""
        answer = self.driver.call("window", 30000)
        self.assertTrue(answer["ok"], "Halvotren did not come back")
        self.assertEqual(1, answer["windows"])
        self.wait_tray("green", 30)
        folder = os.path.dirname(installer_paths(attempt)[1])
        wait_until(lambda: not os.path.exists(folder), 60, what="the update's folder to be removed")
        close_started_programs(self.driver)

    def expect_installed(self, answer, exe=None, signature=None, attempt=0, read_for=0):
        """The waiter starts msiexec with its property on the saved package,
        which the stand-in reads whole, and since it reports success,
        deletes the package and starts the installed program: here, with
        nothing installed, the one that ran."""
        windows_path, unix_path = installer_paths(attempt)
        self.accept_update(answer, exe, signature, read_for=read_for)
        self.assertEqual([INSTALLER_PATH], [r.path for r in self.server.seen(INSTALLER_PATH)])
        self.assertEqual("Halvotren Update Checker", self.server.seen(INSTALLER_PATH)[0].user_agent)
        self.assertEqual([("C:\\windows\\system32\\msiexec.exe",
                           'msiexec.exe /i "%s" HALVOTREN_WAITER=1' % windows_path)], launched())
        self.assertEqual(["C:\\windows\\system32"], [folder for (_, folder, _) in launches()],
                         "msiexec did not start in the system folder")
        with open(RECEIVED, "rb") as f:
            self.assertEqual(answer.body, f.read())
        # Delete at the next start of Windows too: the path as the system
        # spells it, then an empty destination.
        self.assertEqual(["\\??\\" + windows_path, ""], pending_renames())
        self.assert_started_again(attempt)

    def expect_refused(self, answer, signature=None, version_file=OFFER):
        """Yes to the offer of `answer` (the program runs already): the
        failure box, nothing left behind, nothing started."""
        clear_launched()
        self.offer(version_file, answer, signature)
        self.check(UPDATE_AVAILABLE)
        self.press(UPDATE_AVAILABLE, IDYES)
        self.assert_failure_box()
        fetched = [VERSION_PATH, INSTALLER_PATH] + ([SIGNATURE_PATH] if signature else [])
        self.assertEqual(fetched, [r.path for r in self.server.seen()])
        # Refused downloads are never written; what was written and then
        # refused is deleted again, with its folder.
        self.assertEqual([], update_folders(), "the update left files behind")
        self.assertEqual([], launched())

    def assert_still_watching(self):
        """Whatever the server sent, a fall of the firewall is still seen."""
        set_firewall(enabled=0)
        self.press("Firewall Warning!")
        self.wait_tray("red")
        set_firewall(enabled=1)
        self.wait_tray("green")

    def assert_failure_box(self):
        box = self.box(ERROR, timeout=BOX_TIMEOUT)
        self.assert_box(box, ERROR_TEXT, [IDOK])
        self.press(ERROR, IDOK)
        self.assert_still_running()


class UpdateCheck(UpdateBed):
    # the version file

    def test_no_updates_for_the_same_an_older_or_an_unreadable_version(self):
        # Run from a folder that holds a wininet.dll of its own, which Wine
        # takes for a load by bare name when it searches as Windows does
        # (native first; by default it maps its own whatever it finds).
        folder = tempfile.mkdtemp(prefix="halvotren-decoy-")
        self.addCleanup(shutil.rmtree, folder)
        decoy = os.path.join(os.path.realpath(folder), "wininet.dll")
        foreign_copy(os.path.join(PREFIX, "drive_c", "windows", "system32", "wininet.dll"), decoy)
        self.start_program(exe=shutil.copy(EXE, folder), environment={"WINEDLLOVERRIDES": "wininet.dll=n,b"})
        # wininet.dll is mapped while a check runs, never at rest; msi.dll
        # only while a package is handed over.
        self.wait_tray("green")
        self.assertEqual(set(), self.update_libraries(), "mapped at rest")
        # A version that is not newer needs no URL, so a line break alone
        # after the colon is no failure.
        same = VERSION + ("0" if "." in VERSION else ".0")
        older = "%g" % (float(VERSION) - 0.05)
        files = ["%s:%s\r\n" % (version, INSTALLER_URL) for version in (VERSION, same, older, "abc")]
        for version_file in files + ["%s:\r\n" % VERSION, "0.00:\n"]:
            with self.subTest(version_file=version_file):
                self.offer(version_file)
                box = self.check(NO_UPDATES)
                self.assert_box(box, NO_UPDATES_TEXT, [IDOK])
                self.assertEqual({"wininet.dll"}, self.update_libraries())
                [pid] = prefix_processes(self.exe)
                mapped = {path for path in mapped_files(pid) if path.endswith("/wininet.dll")}
                self.assertNotIn(decoy, mapped, "wininet.dll mapped from beside the program")
                self.press(NO_UPDATES, IDOK)
                self.assertEqual([VERSION_PATH], [r.path for r in self.server.seen()])
                self.assertEqual(0, self.box_count(ERROR))
                self.assert_still_running()
        wait_until(lambda: not self.update_libraries(), 20, what="the update libraries to be freed after the checks")

    def test_a_newer_version_is_offered_and_no_downloads_nothing(self):
        # Each check holds what it used 3 s after its last box, as Wine's
        # WinINet has been seen to.
        self.start_program(exe=os.environ["HALVOTREN_QUICK_EXE"],
                           environment={"HALVOTREN_HOLD_CHECK_RELEASE_MS": "3000"})
        self.offer(OFFER, Answer(test_package()))
        box = self.check(UPDATE_AVAILABLE)
        self.assert_box(box, UPDATE_AVAILABLE_TEXT, [IDYES, IDNO])
        [request] = self.server.seen()
        self.assertEqual(("GET", "www.halvotren.example", 80, VERSION_PATH, "Halvotren Update Checker"),
                         (request.method, request.host, request.port, request.path, request.user_agent))
        self.press(UPDATE_AVAILABLE, IDNO)
        # A check is over for the user once its last box is dismissed: one
        # chosen a second later (a user's pause) opens its box, whichever
        # answer ended the last one, however often.
        answers = [(NO_UPDATES, IDOK, Answer("%s:%s\r\n" % (VERSION, INSTALLER_URL))),
                   (ERROR, IDOK, Answer(b"", status=404)),
                   (UPDATE_AVAILABLE, IDNO, Answer(OFFER, content_type="text/plain"))] * 2
        for caption, button, version_file in answers:
            self.server.serve(VERSION_PATH, version_file)
            time.sleep(1)
            self.check(caption)
            self.press(caption, button)
        # Nothing downloaded after a No.
        self.assertEqual([VERSION_PATH] * 7, [r.path for r in self.server.seen()])
        self.assert_still_running()
        self.assertEqual([], launched())

    def test_a_version_file_another_program_left_in_the_cache_is_fetched_again(self):
        # Internet Explorer, and every program that reads through WinINet
        # the same way, keeps what it fetched in the cache the program's
        # WinINet shares; here the server let it be kept for an hour.
        cacheable = {"Cache-Control": "max-age=3600", "Last-Modified": "Mon, 01 Jan 2024 00:00:00 GMT"}
        self.offer(Answer("%s:%s\r\n" % (VERSION, INSTALLER_URL), content_type="text/plain", headers=cacheable))
        self.assertTrue(self.driver.call("fetch", "http://www.halvotren.example" + VERSION_PATH)["ok"])
        self.server.serve(VERSION_PATH, Answer(OFFER, content_type="text/plain", headers=cacheable))
        self.start_program(traces=("wininet",))
        self.command(CHECK_FOR_UPDATES)
        boxes = wait_until(lambda: [c for c in (UPDATE_AVAILABLE, NO_UPDATES, ERROR) if self.box_count(c)],
                           BOX_TIMEOUT, what="the check's box")
        self.assertEqual([UPDATE_AVAILABLE], boxes, "the check answered from the cached version file")
        self.press(UPDATE_AVAILABLE, IDNO)
        self.assertEqual(2, len(self.server.seen(VERSION_PATH)))
        # Wine's WinINet never answers an HTTP request from its cache (see
        # docs/test-bed.md, the Wine facts), so there its trace shows what Windows could
        # answer so: a request opened without INTERNET_FLAG_RELOAD.
        with open(self.trace.name, errors="replace") as f:
            opened = re.findall(r"InternetOpenUrlW +flags :(.*)", f.read())
        self.assertTrue(opened and all("INTERNET_FLAG_RELOAD" in flags.split() for flags in opened),
                        "requests WinINet may answer from its cache, without INTERNET_FLAG_RELOAD: %s" % opened)

    def test_oversized_fields_are_cut_in_the_offer(self):
        self.start_program()
        long_url = INSTALLER_URL + "?" + "u" * 1999
        exact = (NEWER + ":" + INSTALLER_URL + "?").ljust(TEXT_LIMIT, "a")
        url_of_exact = exact[len(NEWER) + 1:]
        cases = (
            ("a version of 1000 digits", "1" * 1000 + ":" + INSTALLER_URL, "1" * 1000, INSTALLER_URL),
            ("a URL of 2000 characters", NEWER + ":" + long_url[:2000], NEWER, long_url[:2000]),
            ("exactly 1023 bytes", exact, NEWER, url_of_exact),
            ("5000 bytes, of which 1023 are read", exact + "b" * (5000 - TEXT_LIMIT), NEWER, url_of_exact),
        )
        for name, version_file, version, url in cases:
            with self.subTest(case=name):
                self.offer(version_file)
                box = self.check(UPDATE_AVAILABLE)
                self.assertEqual(offer_text(version, url)[:TEXT_LIMIT], box["text"])
                self.press(UPDATE_AVAILABLE, IDNO)
        self.assertEqual([], [r for r in self.server.seen() if r.path != VERSION_PATH])
        # Yes to a URL that ends at the buffer's end fetches it as read, not
        # a byte beyond.
        at_the_end = (NEWER + ":" + INSTALLER_URL + "/").ljust(TEXT_LIMIT, "a")
        self.offer(at_the_end + "b" * 100)
        self.check(UPDATE_AVAILABLE)
        self.press(UPDATE_AVAILABLE, IDYES)
        self.assert_failure_box()
        self.assertEqual([VERSION_PATH, "/" + at_the_end.split("/", 3)[3]], [r.path for r in self.server.seen()])
        self.assert_still_watching()

    # failures

    def test_failures_to_read_the_version_file_show_the_error(self):
        self.start_program(recorders=("msiexec.exe",))
        cases = (
            ("version file missing", Answer(OFFER, status=404)),
            ("server error", Answer(OFFER, status=500)),
            ("a non-authoritative answer", Answer(OFFER, status=203)),
            ("no content", Answer(OFFER, status=204)),
            ("no colon", "1.1\r\n"),
            ("empty file", ""),
            ("colon at the end", "1.1:"),
            ("only a line break after the colon", NEWER + ":\r\n"),
            # A package taken from anywhere but the web could reach the
            # user's network with the user's logon.
            ("an ftp package", NEWER + ":ftp://www.halvotren.example/downloads/halvotren-1.1.msi\r\n"),
            ("a file package", NEWER + ":file://www.halvotren.example/downloads/halvotren-1.1.msi\r\n"),
            ("a share package", NEWER + ":\\\\www.halvotren.example\\downloads\\halvotren-1.1.msi\r\n"),
            # The version is signed with a line feed after it.
            ("a line feed in the version", "1.1\nHalvotren update\n1.1:%s\r\n" % INSTALLER_URL),
            ("a tab in the version", "1.1\t:%s\r\n" % INSTALLER_URL),
            ("a zero byte first", b"\0" + OFFER.encode()),
            ("binary junk", junk(600, 7)),
            ("binary junk past the buffer", junk(5000, 8)),
            ("the colon beyond the first 1023 bytes", b"1" * TEXT_LIMIT + b":" + INSTALLER_URL.encode()),
        )
        for name, version_file in cases:
            with self.subTest(case=name):
                self.offer(version_file, Answer(test_package()))
                self.start_check()
                self.assert_failure_box()
                self.assertEqual([VERSION_PATH], [r.path for r in self.server.seen()])
                self.assertEqual(0, self.box_count(UPDATE_AVAILABLE))
                self.assertEqual(0, self.box_count(NO_UPDATES))

        # The server down is the menu scenario's row.
        self.assertEqual([], launched())
        self.assert_still_watching()

    def test_failures_to_get_a_whole_installer_show_the_error(self):
        package = test_package()
        self.start_program(recorders=("msiexec.exe",))
        cases = (
            ("installer missing", Answer(package, status=404)),
            ("server error", Answer(package, status=500)),
            ("a part of the installer", Answer(package, status=206,
                                               headers={"Content-Range": "bytes 0-%d/*" % (len(package) - 1)})),
            ("empty installer", Answer(b"")),
            ("truncated installer", Answer(package, length=len(package) + 4096)),
            ("installer over the size limit", Answer(padded(package, INSTALLER_LIMIT + 1))),
            ("installer far over the size limit", Answer(padded(package, 3 * INSTALLER_LIMIT))),
            # Without a length only the extra byte shows that the buffer
            # could not hold it all; cut, it would still be an installer.
            ("installer over the size limit, no length given",
             Answer(padded(package, INSTALLER_LIMIT + 1), length=False)),
            ("a web page instead of an installer",
             Answer(b"<html><body>Moved</body></html>\n" * 20, content_type="text/html")),
            ("not an installer at the size limit", Answer(b"x" * INSTALLER_LIMIT)),
            # Asked for the user's logon, it sends none and goes no further;
            # Wine answers NTLM only through Samba's ntlm_auth.
            ("a server asking for the logon",
             Answer(b"", status=401, headers={"WWW-Authenticate": "NTLM", "Set-Cookie": "session=1"})),
        )
        self.assertTrue(shutil.which("ntlm_auth"), "Wine here cannot answer NTLM: install winbind")
        for name, installer in cases:
            with self.subTest(case=name):
                self.expect_refused(installer)
        # A cookie set with the version file goes back with no request of
        # the check that got it. (Without a path Wine takes the request's
        # whole path for the cookie's, which the package's does not match.)
        self.expect_refused(Answer(package, status=404), version_file=Answer(
            OFFER, content_type="text/plain", headers={"Set-Cookie": "offer=1; Path=/"}))
        self.assertIsNone(pending_renames())
        # Windows Installer refused what was not a package: msi.dll, which
        # checked it, is freed again.
        wait_until(lambda: not self.update_libraries(), 20, what="the update libraries to be freed after the checks")
        self.assertEqual([], [(r.path, r.authorization, r.cookie) for r in self.server.log
                              if r.authorization or r.cookie])

    def test_an_offer_read_past_the_networks_limit_still_updates(self):
        # The time the box is open is the user's, not the network's.
        self.expect_installed(Answer(test_package()), exe=os.environ["HALVOTREN_QUICK_EXE"],
                              read_for=QUICK_CHECK_SECONDS + 2)

    def test_a_second_check_during_a_check_starts_none_and_close_ends_either(self):
        self.start_program()
        self.offer(OFFER, Answer(b"", status=404))
        self.check(UPDATE_AVAILABLE)
        # The check runs on, its box open, until it is answered: choosing
        # it again meanwhile does nothing, then or later.
        self.command(CHECK_FOR_UPDATES)
        self.sync_with_window()
        self.assert_no_box(NO_UPDATES, 3)
        self.assertEqual(1, self.box_count(UPDATE_AVAILABLE))
        self.assertEqual([VERSION_PATH], [r.path for r in self.server.seen()])
        self.press(UPDATE_AVAILABLE, IDYES)
        self.assert_failure_box()
        self.assertEqual([VERSION_PATH, INSTALLER_PATH], [r.path for r in self.server.seen()])
        # Once it is done, the next one runs; closed while its box is open,
        # the program ends at once, with its icon deleted.
        self.check(UPDATE_AVAILABLE)
        self.post(WM_CLOSE)
        self.assertEqual(0, self.wait_exit())
        self.assertEqual(2, self.tray_calls()[-1], "the icon was not deleted")
        self.assertEqual([], update_folders())

    def test_an_update_that_cannot_be_handed_over_safely_is_refused(self):
        # A program whose own path does not fit the waiter's command line
        # cannot make a waiter; without one there is no hand-over, since an
        # installer started without it might leave nothing watching.
        deep = tempfile.mkdtemp(prefix="halvotren-deep-")
        self.addCleanup(shutil.rmtree, deep)
        folder = os.path.join(deep, *["a-folder-name-of-forty-characters-each--"] * 7)
        os.makedirs(folder)
        shutil.copy(EXE, os.path.join(folder, "Halvotren.exe"))
        cases = (("no waiter", os.path.join(folder, "Halvotren.exe"), {}),
                 # The test build changes the saved package, as another
                 # program could between its write and its reopening.
                 ("the saved package changed", os.environ["HALVOTREN_QUICK_EXE"],
                  {"HALVOTREN_CHANGE_SAVED_PACKAGE": "1"}),
                 ("a byte appended to the saved package", os.environ["HALVOTREN_QUICK_EXE"],
                  {"HALVOTREN_CHANGE_SAVED_PACKAGE": "append"}),
                 # Another program holds the user's update lock, longer than
                 # the test build waits for it (5 s).
                 ("the update lock held", os.environ["HALVOTREN_QUICK_EXE"], {}))
        for name, exe, environment in cases:
            with self.subTest(case=name):
                if name == "the update lock held":
                    self.assertTrue(self.driver.call("hold-update-lock")["ok"])
                self.start_program(exe=exe, recorders=("msiexec.exe",), environment=environment)
                self.expect_refused(Answer(test_package()))
                self.wait_tray("green")
                self.post(WM_CLOSE)
                self.assertEqual(0, self.wait_exit())
                self.driver.call("release-update-lock")

    def test_checks_refused_for_a_held_lock_keep_no_handle(self):
        self.assertTrue(self.driver.call("hold-update-lock")["ok"])
        self.addCleanup(self.driver.call, "release-update-lock")
        self.start_program(exe=os.environ["HALVOTREN_QUICK_EXE"], recorders=("msiexec.exe",))
        # The first check loads what every later one finds loaded. Each is
        # counted once its thread has ended, which frees wininet.dll last.
        def handles_after_the_check():
            wait_until(lambda: not self.update_libraries(), 20, what="the check to end")
            return self.driver.call("counts")["handles_listed"]
        self.expect_refused(Answer(test_package()))
        held = handles_after_the_check()
        # Under Wine a thread that used WinINet leaves a handle behind when
        # it ends, a check that meets no lock too: the refused ones are
        # measured against as many of those.
        self.offer("%s:%s\r\n" % (VERSION, INSTALLER_URL))
        for _ in range(6):
            self.check(NO_UPDATES)
            self.press(NO_UPDATES)
        unlocked = handles_after_the_check() - held
        for _ in range(6):
            self.expect_refused(Answer(test_package()))
        refused = handles_after_the_check() - held - unlocked
        print("\nhandles kept by 6 checks: %d without the lock, %d refused for it" % (unlocked, refused))
        self.assertLessEqual(refused, unlocked + 2,
                             "a handle kept by each check that waited for the lock in vain")


class HandOver(UpdateBed):
    """The package saved, proven and handed to the waiter, which sees the
    installation through and starts a program again; and what updates
    leave behind."""

    def test_yes_saves_the_installer_and_starts_it_with_msiexec(self):
        package = test_package()
        # The largest installer taken is 999,999 bytes; a package padded to
        # that size is still one for Windows Installer.
        cases = (
            ("package", Answer(package)),
            ("package at the size limit", Answer(padded(package, INSTALLER_LIMIT))),
            ("package at the size limit, no length given",
             Answer(padded(package, INSTALLER_LIMIT), length=False)),
        )
        for name, answer in cases:
            with self.subTest(installer=name):
                self.expect_installed(answer)
                # Built without an update key, it asks for no signature.
                self.assertEqual([], self.server.seen(SIGNATURE_PATH))

    def test_a_lock_left_by_a_program_that_ended_holding_it_is_taken(self):
        self.assertTrue(self.driver.call("abandon-update-lock")["ok"])
        self.addCleanup(self.driver.call, "release-update-lock")
        self.expect_installed(Answer(test_package()))

    def test_the_waiter_brings_the_old_program_back_unless_windows_restarts(self):
        package = test_package()
        msiexec = os.path.join(PREFIX, "drive_c", "windows", "system32", "msiexec.exe")
        for ending in ("1603", "none", "1641"):
            with self.subTest(installer_ended=ending):
                if ending == "none":
                    # A stand-in that is no program: the installer cannot
                    # be started at all.
                    os.replace(msiexec, msiexec + ".kept")
                    with open(msiexec, "wb") as f:
                        f.write(b"no program")
                else:
                    with open(MSIEXEC_EXIT, "w") as f:
                        f.write(ending)
                try:
                    self.accept_update(Answer(package), installer_runs=ending != "none")
                finally:
                    if ending == "none":
                        os.replace(msiexec + ".kept", msiexec)
                if ending != "1641":
                    self.assert_started_again()
                    continue
                # Windows Installer is restarting the machine: nothing is
                # started, and what the waiter deleted is no restart's doing.
                self.assertFalse(self.driver.call("window", 20000)["ok"], "a Halvotren was started")
                folder = os.path.dirname(installer_paths()[1])
                self.assertEqual(["Halvotren.exe"], os.listdir(folder), "the waiter left the package behind")

    def test_a_package_file_someone_holds_open_is_never_the_one_run(self):
        # A leftover that another program holds open for writing cannot be
        # removed, so the update takes a new folder and a new file.
        windows_path, unix_path = installer_paths(0)
        os.makedirs(os.path.dirname(unix_path))
        with open(unix_path, "wb") as f:
            f.write(b"not the package")
        self.assertTrue(self.driver.call("hold", windows_path)["ok"])
        self.addCleanup(self.driver.call, "release")
        self.expect_installed(Answer(test_package()), attempt=1)
        with open(unix_path, "rb") as f:
            self.assertEqual(b"not the package", f.read())

    def test_the_package_handed_over_cannot_be_written_until_the_installer_has_it(self):
        # Held from its reading back by the program's handle, then by the
        # waiter's, which inherits it, until msiexec ends. No test point
        # holds the program after the reading back, so the waiter is held
        # instead: the stand-in for msiexec waits for its mutex first (10 s
        # at most), and the driver holds it.
        package = test_package()
        self.assertTrue(self.driver.call("hold-mutex", "halvotren-recorder")["ok"])
        self.addCleanup(self.driver.call, "release-mutex")
        self.start_program(recorders=("msiexec.exe",))
        self.offer(OFFER, Answer(package))
        self.check(UPDATE_AVAILABLE)
        self.press(UPDATE_AVAILABLE, IDYES)
        self.assertEqual(0, self.wait_exit(60, "Halvotren did not end: no hand-over after Yes"))
        held = self.driver.call("hold", installer_paths()[0])
        installer_before = launched()
        self.driver.call("release")
        # The update runs its course before anything is judged, so that a
        # failure leaves no program running.
        self.assertTrue(self.driver.call("release-mutex")["ok"])
        wait_until(launched, 30, what="msiexec to be started")
        wait_until(lambda: not waiter_processes(), 60, what="the waiter to end")
        self.assert_started_again()
        self.assertEqual([], installer_before, "msiexec had the package before it was tried")
        self.assertEqual("CreateFile failed: 32", held.get("error"),
                         "another program could write the package handed over: %s" % held)
        with open(RECEIVED, "rb") as f:
            self.assertEqual(package, f.read())

    def test_a_program_closed_during_its_hand_over_leaves_no_update_behind(self):
        # The test build holds the update's folder, made and empty, for 8 s:
        # closed then, the program removes it, starts no waiter and ends.
        self.start_program(exe=os.environ["HALVOTREN_QUICK_EXE"], recorders=("msiexec.exe",),
                           environment={"HALVOTREN_HOLD_UPDATE_FOLDER_MS": "8000"})
        self.offer(OFFER, Answer(test_package()))
        self.check(UPDATE_AVAILABLE)
        self.press(UPDATE_AVAILABLE, IDYES)
        wait_until(update_folders, 30, what="the update's folder")
        self.post(WM_CLOSE)
        self.assertEqual(0, self.wait_exit(30))
        self.assertEqual(2, self.tray_calls()[-1], "the icon was not deleted")
        self.assertEqual([], update_folders(), "the update's folder was left behind")
        self.assertEqual([], waiter_processes())
        self.assertEqual([], launched())
        self.assertFalse(self.driver.call("window", 5000)["ok"], "a Halvotren was started")

    def test_a_waiter_command_line_not_the_programs_own_starts_nothing(self):
        # Malformed; then well formed but naming handles it never inherited.
        # The recorder stands in for msiexec, so an installer started would
        # show in its log.
        environment = dict(os.environ, WINEDLLOVERRIDES="msiexec.exe=n")
        for arguments, code in ((["/update-waiter", "8", "x"], 2),
                                (["/update-waiter", "4000000", "4000004", "C:\\Program Files\\x y.exe"], 3)):
            with self.subTest(arguments=arguments):
                ended = subprocess.run(["wine", EXE, *arguments], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, env=environment, timeout=60)
                self.assertEqual(code, ended.returncode)
        # A program the waiter started would have come by now.
        self.assertFalse(self.driver.call("window", 20000)["ok"], "a Halvotren was started")
        self.assertEqual([], launched())

    def test_leftovers_are_removed_only_when_they_hold_nothing_but_an_updates_files(self):
        temp = temp_folder()[1]
        target = tempfile.mkdtemp(prefix="halvotren-elsewhere-")
        self.addCleanup(shutil.rmtree, target, True)
        contents = {target: [INSTALLER_NAME, "Halvotren.exe"],
                    os.path.join(temp, UPDATE_FOLDER + "6"): ["Halvotren.exe", "notes.txt"],
                    os.path.join(temp, UPDATE_FOLDER + "7"): [INSTALLER_NAME, "Halvotren.exe"]}
        for folder, names in contents.items():
            os.makedirs(folder, exist_ok=True)
            for name in names:
                open(os.path.join(folder, name), "w").close()
        os.symlink(target, os.path.join(temp, UPDATE_FOLDER + "5"))
        # A waiter still ending holds the last one's package for a while.
        self.assertTrue(self.driver.call("hold", installer_paths(7)[0])["ok"])
        self.addCleanup(self.driver.call, "release")
        self.start_program()
        wait_until(lambda: not os.path.exists(os.path.join(temp, UPDATE_FOLDER + "7", "Halvotren.exe")), 30,
                   what="a first round of removal")
        self.assertTrue(self.driver.call("release")["ok"])
        # Each round takes the folders in order, so once the last is gone
        # the round has been past the others.
        wait_until(lambda: not os.path.exists(os.path.join(temp, UPDATE_FOLDER + "7")), 30,
                   what="the update's leftover to be removed by a later round, once let go")
        self.assertTrue(os.path.isdir(target), "the removal went through the link")
        self.assertEqual([UPDATE_FOLDER + "5", UPDATE_FOLDER + "6"], update_folders())
        self.assertEqual(sorted(contents[target]), sorted(os.listdir(target)))
        self.assertEqual(["Halvotren.exe", "notes.txt"], sorted(os.listdir(os.path.join(temp, UPDATE_FOLDER + "6"))))

    def test_an_update_runs_whole_while_another_halvotren_starts(self):
        # The test build holds its update's folder, made and still empty,
        # for 8 s; the other's removal of leftovers, which starts then,
        # must wait for the update to be handed over.
        package = test_package()
        self.start_program(exe=os.environ["HALVOTREN_QUICK_EXE"], recorders=("msiexec.exe",),
                           environment={"HALVOTREN_HOLD_UPDATE_FOLDER_MS": "8000"})
        self.offer(OFFER, Answer(package))
        self.check(UPDATE_AVAILABLE)
        self.press(UPDATE_AVAILABLE, IDYES)
        wait_until(update_folders, 30, what="the update's folder")
        # Held open from its making until the waiter runs: nobody can rename
        # it away and put another of that name in its place, such as a
        # folder of the user's own that holds something else.
        folder = installer_paths()[0].rsplit("\\", 1)[0]
        moved = self.driver.call("rename", folder, folder + "-moved")
        self.assertEqual("MoveFile failed: 32", moved.get("error"),
                         "the update's folder could be renamed while the update was under way")
        prepared = os.path.join(temp_folder()[1], "prepared")
        os.mkdir(prepared)
        self.addCleanup(shutil.rmtree, prepared, True)
        with open(os.path.join(prepared, "version.dll"), "w") as f:
            f.write("a library beside the waiter")
        self.driver.call("rename", temp_folder()[0] + "\\prepared", folder)
        other = subprocess.Popen(["wine", EXE], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertEqual(0, self.wait_exit(60), "the update was not handed over")
        wait_until(launched, 30, what="msiexec to be started")
        with open(RECEIVED, "rb") as f:
            self.assertEqual(package, f.read())
        wait_until(lambda: not waiter_processes(), 60, what="the waiter to end")
        self.assertEqual(0, self.box_count(ERROR))
        # The other, and the one the waiter started again.
        wait_until(lambda: self.driver.call("window", 0).get("windows") == 2, 30,
                   what="the other Halvotren and the one started again")
        close_started_programs(self.driver)
        self.assertEqual(0, other.wait(30))
        self.assertEqual(["version.dll"], os.listdir(prepared), "the update went on in a folder put in its place")


class SlowServer(UpdateBed):
    """A server that stops sending, or sends a byte now and then, does not
    hold the program for good. The program under test is built to wait 4 s
    for a byte and 20 s for a whole check, where the shipped one waits a
    minute and ten. Wine's WinINet keeps no read limit, so there a stall
    ends only when the server closes (after 25 s here), and it is the
    check's own limit that refuses what came."""

    def test_a_server_that_stalls_or_trickles_gives_the_error(self):
        package = test_package()
        self.start_program(exe=os.environ["HALVOTREN_QUICK_EXE"], recorders=("msiexec.exe",))
        cases = (
            # Whole but for its line break: what came would do, were the
            # stall not a failure.
            ("version file stalls before its end", Answer(OFFER, first=len(OFFER) - 2, stall=25), None),
            ("package stalls", None, Answer(package, first=1000, stall=25)),
            ("package trickles a byte a second", None, Answer(package, first=1000, every=1)),
        )
        for name, version_file, installer in cases:
            with self.subTest(case=name):
                if version_file is not None:
                    self.offer(version_file)
                    self.start_check()
                    self.assert_failure_box()
                else:
                    self.expect_refused(installer)
        self.assertEqual([], launched())


class SignedUpdate(UpdateBed):
    """A program built with the publisher's update key starts only a
    package that comes with the key's signature for the version offered."""

    @classmethod
    def setUpClass(cls):
        cls.key = os.environ["HALVOTREN_TEST_UPDATE_KEY"]
        cls.work = tempfile.TemporaryDirectory()
        cls.other_key = os.path.join(cls.work.name, "other.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", cls.other_key], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_a_program_with_a_key_takes_only_its_publishers_signed_package(self):
        package = test_package()
        genuine = update_signature(self.key, NEWER, package)
        self.expect_installed(Answer(package), exe=os.environ["HALVOTREN_KEYED_EXE"], signature=Answer(genuine))
        self.assertEqual(1, len(self.server.seen(SIGNATURE_PATH)))

        self.start_program(exe=os.environ["HALVOTREN_KEYED_EXE"], recorders=("msiexec.exe",))
        longer = padded(package, len(package) + 16)
        changed_signature = bytearray(genuine)
        changed_signature[40] ^= 0x01
        cases = (
            ("another key", package, update_signature(self.other_key, NEWER, package)),
            ("a changed package byte", longer[:-1] + b"\1", update_signature(self.key, NEWER, longer)),
            ("a changed signature byte", package, bytes(changed_signature)),
            ("no signature", package, Answer(b"not here", status=404)),
            ("63 bytes of signature", package, genuine[:63]),
            ("65 bytes of signature", package, genuine + b"\0"),
        )
        for name, installer, signature in cases:
            with self.subTest(refused=name):
                self.expect_refused(Answer(installer),
                                    signature if isinstance(signature, Answer) else Answer(signature))
        # The genuine package and signature of 1.1, offered as another
        # version: as a newer one, and with the same number written otherwise.
        for version in (NEWER_STILL, NEWER_REWRITTEN):
            with self.subTest(refused="offered as " + version):
                self.expect_refused(Answer(package), Answer(genuine),
                                    version_file=OFFER.replace(NEWER + ":", version + ":", 1))
        self.assertIsNone(self.program.poll())


if __name__ == "__main__":
    unittest.main()

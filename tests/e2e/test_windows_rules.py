"""The program's paths run under Wine's relay trace, and every call its own
code makes held against Windows' documented rules (windows_rules.py): what
Wine lets through, Windows may refuse."""
import os
import subprocess
import tempfile

import test_update as update
import windows_rules
from bed import (EXE, WIN10, click_tray, pointer_over_program,
                 press_keys, set_firewall, wait_until, wine)
from test_release import FATAL_ERROR, package_that_ends_badly, windows_path
from update_server import Answer

PACKAGE = os.environ.get("HALVOTREN_PACKAGE", "")
CLOSER = os.path.join(os.environ.get("HALVOTREN_BUILD", ""), "close_halvotren.exe")
DEBUG_KEY = "HKCU\\Software\\Wine\\Debug"
RELAY = ("+pid", "loaddll", "relay", "exec")
EXIT, STOP_FIREWALL, START_FIREWALL, CONFIGURE, VIEW_LOG = 100, 103, 104, 105, 106


class WindowsRules(update.UpdateBed):
    longMessage = False

    @classmethod
    def setUpClass(cls):
        # Only the functions the rules look at: the whole trace is huge.
        for name, value in (("RelayInclude", windows_rules.relay_include()),
                            ("RelayFromExclude", windows_rules.RELAY_FROM_EXCLUDE)):
            wine("reg", "add", DEBUG_KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f")

    @classmethod
    def tearDownClass(cls):
        for name in ("RelayInclude", "RelayFromExclude"):
            wine("reg", "delete", DEBUG_KEY, "/v", name, "/f", check=False)

    def setUp(self):
        super().setUp()
        self.traces = []
        self.work = tempfile.mkdtemp(prefix="halvotren-rules-")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.work])

    def start_program(self, exe=None, recorders=(), environment=None, traces=()):
        answer = super().start_program(exe, recorders, environment, tuple(traces) + RELAY)
        self.traces.append(self.trace.name)
        return answer

    def msiexec(self, *args):
        """Wine's msiexec under the trace, which the closing program and
        whatever it starts inherit: its exit code."""
        trace = os.path.join(self.work, "msiexec-%d.trace" % len(self.traces))
        self.traces.append(trace)
        env = dict(os.environ, WINEDEBUG="+pid,trace+loaddll,trace+relay")
        with open(trace, "wb") as stderr:
            installer = subprocess.Popen(["wine", "msiexec", *args], stdout=subprocess.DEVNULL, stderr=stderr,
                                         env=env)
        try:
            if "HALVOTREN_TEST_END=fail" in args:
                # The installer's box, among every process's.
                self.driver.call("target", 0xFFFFFFFF)
                try:
                    self.box("Error", timeout=120)
                    self.press("Error")
                finally:
                    self.driver.call("target", 0)
            return installer.wait(180)
        finally:
            if installer.poll() is None:
                installer.kill()

    def fall_and_rise(self, caption, fall, rise):
        fall()
        self.press(caption)
        self.wait_tray("red")
        rise()
        self.wait_tray("green")

    def test_the_programs_calls_keep_windows_rules(self):
        # At rest, a fall of a service and of the firewall (by Stop), Start,
        # the menu, Configure, View Log and Exit.
        # On the later firewall, Stop and Start go through the consented
        # copy, and View Log finds its log.
        if self.later:
            set_firewall(switch_refused=1)
            log = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "system32", "LogFiles", "Firewall")
            os.makedirs(log, exist_ok=True)
            with open(os.path.join(log, "pfirewall.log"), "w") as f:
                f.write("#Version: 1.5\n")
            self.addCleanup(os.remove, os.path.join(log, "pfirewall.log"))
        self.start_program(recorders=("notepad.exe", "rundll32.exe", "control.exe"))
        self.wait_tray("green")
        helper = self.services[1]
        self.fall_and_rise("Firewall Warning",
                           lambda: self.driver.call("service", helper, "stop", 20000),
                           lambda: self.driver.call("service", helper, "start", 20000))
        self.fall_and_rise("Firewall Warning!", lambda: self.command(STOP_FIREWALL),
                           lambda: self.command(START_FIREWALL))
        click_tray(3)
        wait_until(lambda: self.driver.call("menus")["count"] == 1 and pointer_over_program(), 20,
                   what="the popup menu")
        press_keys("Escape")
        wait_until(lambda: self.driver.call("menus")["count"] == 0, 20, what="the menu to close")
        self.command(CONFIGURE)
        self.command(VIEW_LOG)
        self.sync_with_window()
        self.command(EXIT)
        self.assertEqual(0, self.wait_exit(30, "Exit did not end Halvotren"))

        # An update through the hand-off: the waiter, its msiexec (a
        # recorder) and the program it starts again.
        self.accept_update(Answer(update.test_package()))
        self.assert_started_again()

        # An installation with a user interface over a running Halvotren,
        # which the closing program closes; a removal that fails, after
        # which it starts the installed one again; and one that finishes.
        package = windows_path(package_that_ends_badly(PACKAGE, self.work))
        self.start_program()
        self.assertEqual(0, self.msiexec("/i", package, "/qb"))
        self.addCleanup(self.msiexec, "/x", package, "/qn")
        self.assertEqual(0, self.wait_exit(30, "the installation did not close the running Halvotren"))
        wait_until(lambda: self.driver.call("window", 0)["ok"], 30, what="the installed Halvotren to start")
        self.assertEqual(FATAL_ERROR, self.msiexec("/x", package, "/qb", "HALVOTREN_TEST_END=fail"))
        wait_until(lambda: self.driver.call("window", 0)["ok"], 30, what="the closed Halvotren to start again")
        self.assertEqual(0, self.msiexec("/x", package, "/qb"))
        self.assertFalse(self.driver.call("window", 2000)["ok"], "the removal left Halvotren running")

        programs = {os.path.basename(EXE).lower(): windows_rules.image_size(EXE),
                    ".tmp": windows_rules.image_size(CLOSER)}
        calls = windows_rules.own_calls(windows_rules.read_traces(self.traces), programs)
        seen = {call.function for call in calls}
        later_only = set() if self.later else windows_rules.LATER_ONLY
        self.assertEqual([], sorted(set(windows_rules.RULES) - seen - later_only), "functions the paths never called")
        broken, applied = windows_rules.judged(calls)
        self.assertFalse(broken, "calls Windows would refuse or run otherwise:\n" +
                         "\n".join("%s: %s\n    %s" % row for row in broken))
        # A rule that never applied has checked nothing (a renamed caption, say).
        unreached = {rule.__name__ for function in later_only for rule in windows_rules.RULES[function]}
        self.assertEqual([], sorted(windows_rules.rule_names() - applied - set(windows_rules.GUARDS) - unreached),
                         "rules that applied to no call of the paths")
        print("\n%d calls of the program's own checked against %d rules"
              % (sum(1 for c in calls if c.function in windows_rules.RULES),
                 sum(len(r) for r in windows_rules.RULES.values())))


class WindowsRulesOnWindows10(WindowsRules):
    """The same paths on the later firewall: MpsSvc and BFE, the consented
    copy, control.exe and the log under system32."""

    WINDOWS = WIN10

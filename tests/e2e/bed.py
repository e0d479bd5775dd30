"""Scenario harness: runs the real Halvotren.exe in the test bed's Wine
prefix, steers the stand-in firewall and services, and watches what a person
would see (message boxes, the tray icon).

Everything waits for a condition with a generous deadline; nothing relies on
a fixed sleep being long enough.
"""
import json
import os
import select
import shutil
import re
import subprocess
import tempfile
import time
import unittest

PREFIX = os.environ.get("WINEPREFIX", "")
BED_C = os.path.join(PREFIX, "drive_c", "halvotren-bed")
FIXTURES = os.environ.get("HALVOTREN_FIXTURES", "")
EXE = os.environ.get("HALVOTREN_EXE", "")

WM_CLOSE = 0x0010
WM_COMMAND = 0x0111
WM_TRAYNOTIFY = 0x0400
FIREWALL_LOG = os.path.join(BED_C, "firewall.log")


def wait_until(condition, timeout, interval=0.1, what="condition"):
    """Polls condition() until it returns something true; fails the test
    with `what` when the deadline passes."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def wine(*args, timeout=60, check=True):
    return subprocess.run(["wine", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout, check=check)


def _write_atomically(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    temporary = path + ".tmp"
    with open(temporary, "w") as f:
        f.write(text)
    os.replace(temporary, path)


# --- the stand-in firewall -------------------------------------------------

FIREWALL_KEYS = ("enabled", "read_fails", "switch_refused", "create_fails", "unreachable_until",
                 "read_delay_ms", "manager_release_held", "read_hangs", "profile_in_force", "domain_enabled",
                 "profile_type_hangs", "current_profile_hangs", "type_hangs", "switch_hangs",
                 "profile_type_fails", "addref_held",
                 # the later firewall's: its class exists, the profiles in
                 # force (a bitmask), the public profile's enabled state (the
                 # private one's is "enabled", the domain's "domain_enabled"),
                 # the bitmask's hang and failure, and the consented copy's
                 # put refused too, or hung
                 "later", "profiles_in_force", "public_enabled", "profile_types_hangs", "profile_types_fails",
                 "copy_refused", "copy_hangs")
DOMAIN, STANDARD = 0, 1
# The later firewall's profiles.
DOMAIN2, PRIVATE2, PUBLIC2 = 1, 2, 4


def set_firewall(**keys):
    for key, value in keys.items():
        assert key in FIREWALL_KEYS, key
        _write_atomically(os.path.join(BED_C, "firewall", key), "%d\n" % int(value))


def firewall_value(key, default=0):
    try:
        with open(os.path.join(BED_C, "firewall", key)) as f:
            return int(f.read().strip() or default)
    except (OSError, ValueError):
        return default


def reset_firewall():
    folder = os.path.join(BED_C, "firewall")
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    set_firewall(enabled=1)
    if os.path.exists(FIREWALL_LOG):
        os.remove(FIREWALL_LOG)


def firewall_log():
    """The stand-in's call log as (tick, thread, event) tuples."""
    try:
        with open(FIREWALL_LOG, errors="replace") as f:
            lines = f.read().splitlines()
    except OSError:
        return []
    entries = []
    for line in lines:
        parts = line.split(" ", 2)
        if len(parts) == 3:
            entries.append((int(parts[0]), int(parts[1]), parts[2]))
    return entries


def monitor_thread(log=None):
    """The monitor's thread: the one that made the firewall manager, or the
    later firewall's policy."""
    return next((t for (_, t, e) in log or firewall_log() if e == "create"), None)


def command_events(prefix=""):
    """The events of the calls that Start and Stop made: those of every
    thread but the monitor's."""
    log = firewall_log()
    monitor = monitor_thread(log)
    return [e for (_, t, e) in log if e.startswith(prefix) and t != monitor]


def firewall_events(prefix="", thread=None):
    return [e for (_, t, e) in firewall_log() if e.startswith(prefix) and (thread is None or t == thread)]


def profile_references():
    """How many references the stand-in's profile of each type has handed
    out and not had back, by its last count."""
    counts = {}
    for event in firewall_events("profile_"):
        words = event.split()
        if words[0] in ("profile_addref", "profile_release"):
            counts[words[2]] = int(words[1])
    return counts


# --- the stand-in services --------------------------------------------------

SERVICES = ("SharedAccess", "IpNat")
LATER_SERVICES = ("MpsSvc", "BFE")

# The Windows version a scenario runs the program as (Wine's per-program
# Version setting); XP unless a scenario class names another.
XP, WIN7, WIN10 = "winxp", "win7", "win10"
WINDOWS_SETTING = os.path.join(BED_C, "windows-version")


def set_windows_version(version):
    """Has Wine report `version` to Halvotren.exe, and the stand-in serve
    the later firewall's class on any but XP. The registry is written only
    when the bed's version changes."""
    try:
        with open(WINDOWS_SETTING) as f:
            current = f.read().strip()
    except OSError:
        current = XP  # as the bed installs it
    if current != version:
        wine("reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\Halvotren.exe", "/v", "Version", "/d", version, "/f")
        _write_atomically(WINDOWS_SETTING, version + "\n")
    set_firewall(later=int(version != XP))


def set_service_order(name, order):
    """Holds the service in a reported state such as "stop_pending"; None
    lets it report running again."""
    path = os.path.join(BED_C, "services", name)
    if order is None:
        if os.path.exists(path):
            os.remove(path)
    else:
        _write_atomically(path, order + "\n")


def ensure_service_exists(name):
    if wine("sc", "query", name, check=False).returncode != 0:
        wine("sc", "create", name, "binPath=", "C:\\halvotren-bed\\fakesvc.exe " + name,
             "type=", "own", "start=", "demand")


def delete_service(name):
    wine("sc", "stop", name, check=False)
    wine("sc", "delete", name, check=False)
    wait_until(lambda: wine("sc", "query", name, check=False).returncode != 0, 30,
               what="service %s to be deleted" % name)


# --- the recorders standing in for started programs ----------------------------

LAUNCHED_LOG = os.path.join(BED_C, "launched.log")


def launches():
    """(program path, current folder, command line) for each start the
    recorders saw."""
    try:
        with open(LAUNCHED_LOG, errors="replace") as f:
            return [tuple(line.split("\t", 2)) for line in f.read().splitlines() if line.count("\t") >= 2]
    except OSError:
        return []


def launched():
    """(program path, command line) for each start the recorders saw."""
    return [(program, command) for (program, _, command) in launches()]


def clear_launched():
    if os.path.exists(LAUNCHED_LOG):
        os.remove(LAUNCHED_LOG)


# --- what updates start ---------------------------------------------------------

def prefix_processes(name):
    """Linux pids of this prefix's processes whose command line names `name`
    (Wine shows a Windows process's command line as its own); other beds'
    processes are not ours."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read().decode(errors="replace")
            with open("/proc/%s/environ" % pid, "rb") as f:
                environment = f.read().split(b"\0")
        except OSError:
            continue
        if name in command and ("WINEPREFIX=" + PREFIX).encode() in environment:
            found.append(int(pid))
    return found


def mapped_files(pid):
    """The file of each region a Linux process maps (/proc/<pid>/maps); for
    a Windows process, its libraries among them."""
    with open("/proc/%d/maps" % pid) as f:
        return [fields[5].strip() for fields in (line.split(None, 5) for line in f) if len(fields) == 6]


def waiter_processes():
    """Pids of the update waiters running."""
    return prefix_processes("/update-waiter")


def close_started_programs(driver):
    """Closes every Halvotren that the test did not start itself: one that
    a waiter or an installation started. The driver acts on each in turn and
    then on any again."""
    for _ in range(5):
        answer = driver.call("window", 0)
        if not answer["ok"]:
            break
        driver.call("target", answer["pid"])
        driver.call("post", WM_CLOSE, 0, 0)
        driver.call("gone", 20000)
    driver.call("target", 0)


# --- the driver --------------------------------------------------------------

class Driver:
    """A long-lived driver.exe answering one JSON line a command."""

    def __init__(self):
        self.process = subprocess.Popen(["wine", os.path.join(FIXTURES, "driver.exe"), "serve"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.pending = b""

    def call(self, *words, timeout=60):
        line = "\t".join(str(w) for w in words) + "\n"
        self.process.stdin.write(line.encode())
        self.process.stdin.flush()
        deadline = time.monotonic() + timeout
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("driver did not answer %r" % (words,))
            ready, _, _ = select.select([self.process.stdout], [], [], left)
            if ready:
                chunk = os.read(self.process.stdout.fileno(), 65536)
                if not chunk:
                    raise AssertionError("driver ended while answering %r" % (words,))
                self.pending += chunk
        answer, self.pending = self.pending.split(b"\n", 1)
        return json.loads(answer.decode())

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


# --- the scenario base ----------------------------------------------------------

# Wine's trace of a load of the tray icon (103 or 104) from the program's
# own module: its identifier, and the width and height asked for.
TRAY_ICON_LOAD = re.compile(r"trace:resource:LoadImageW \(\w+,#(006[78]),1,(\d+),(\d+),")


class BedTestCase(unittest.TestCase):
    """Each test starts from all-well stand-ins and no Halvotren running, as
    the Windows version WINDOWS names."""

    WINDOWS = XP

    @property
    def later(self):
        return self.WINDOWS != XP

    @property
    def services(self):
        return LATER_SERVICES if self.later else SERVICES

    def setUp(self):
        self.assertTrue(PREFIX and EXE and FIXTURES, "run the tests through scripts/test.sh")
        self.program = None
        self.driver = Driver()
        self.addCleanup(self.driver.close)
        self.assert_no_halvotren("before the test")
        self.addCleanup(self.assert_no_halvotren, "after the test")
        self.addCleanup(self.assert_firewall_used_soundly)
        self.addCleanup(self.stop_program)
        reset_firewall()
        set_windows_version(self.WINDOWS)
        clear_launched()
        # The services exist: the bed creates them, and a test that deletes
        # one creates it again.
        for name in self.services:
            set_service_order(name, None)
            self.assertTrue(self.driver.call("service", name, "start", 20000)["ok"])

    def assert_firewall_used_soundly(self):
        """No call reached a profile after its last release, or from a
        thread outside the apartment the profile was made in."""
        faults = [e for e in firewall_events() if e.startswith(("USE_AFTER_RELEASE", "WRONG_APARTMENT"))]
        self.assertEqual([], faults, "the firewall's profile used unsoundly")

    def assert_no_halvotren(self, when):
        """A Halvotren left running by another test would answer for ours."""
        answer = self.driver.call("window", 0)
        self.assertFalse(answer["ok"], "a Halvotren runs %s: pid %s, %s window(s)"
                         % (when, answer.get("pid"), answer.get("windows")))
        # Wine takes a killed program's icon away by itself, a moment later.
        wait_until(lambda: not tray_icons(), 20, what="the tray to be empty %s" % when)

    # the program

    def start_program(self, exe=None, recorders=(), environment=None, traces=()):
        """Starts Halvotren.exe; `recorders` names programs (notepad.exe,
        rundll32.exe, msiexec.exe) that its launches reach as recorders
        writing to launched.log instead of Wine's own; `traces` names more of
        Wine's debug channels for the trace."""
        env = dict(os.environ, **(environment or {}))
        if recorders:
            env["WINEDLLOVERRIDES"] = ",".join(recorders) + "=n"
        # Wine traces every tray call, icon load and menu item; that trace is
        # the record of what the program asked of the shell and put in its
        # menu.
        env["WINEDEBUG"] = ",".join(["-all", "trace+systray", "trace+cursor", "trace+resource", "trace+menu"] +
                                    [channel if channel.startswith("+") else "trace+" + channel
                                     for channel in traces])
        self.trace = tempfile.NamedTemporaryFile(prefix="halvotren-trace-", delete=False)
        self.addCleanup(os.remove, self.trace.name)
        self.program = subprocess.Popen(["wine", exe or EXE], stdout=subprocess.DEVNULL,
                                        stderr=self.trace, env=env)
        self.trace.close()
        self.exe = exe or EXE
        answer = self.driver.call("window", 20000)
        self.assertTrue(answer["ok"], "Halvotren's window did not appear")
        self.assertEqual(1, answer["windows"], "more than one Halvotren runs")
        # From now on the driver acts on this program's window alone.
        self.assertTrue(self.driver.call("target", answer["pid"])["ok"])
        self.window = answer
        return answer

    def stop_program(self):
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
            self.assertTrue(self.driver.call("gone", 20000)["ok"], "Halvotren's window outlived its process")

    def wait_exit(self, timeout=20, what="Halvotren did not end"):
        try:
            return self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(what)

    def tray_calls(self):
        """The program's Shell_NotifyIcon calls so far: 0 add, 1 modify,
        2 delete."""
        return [call for refresh in self.tray_refreshes() for call in refresh]

    def tray_icon_loads(self):
        """(identifier, width, height) of each tray icon the program loaded."""
        with open(self.trace.name, errors="replace") as f:
            return [(int(number, 16), int(width), int(height)) for number, width, height
                    in TRAY_ICON_LOAD.findall(f.read())]

    def tray_refreshes(self):
        """The tray calls grouped by the refresh that made them: each
        refresh loads its icon first."""
        refreshes = [[]]
        with open(self.trace.name, errors="replace") as f:
            for line in f:
                if TRAY_ICON_LOAD.search(line):
                    refreshes.append([])
                call = re.search(r"Shell_NotifyIconW dwMessage = (\d+)", line)
                if call:
                    refreshes[-1].append(int(call.group(1)))
        return refreshes

    def menu_texts(self):
        """The texts of the items of the last menu the program filled (Wine
        fills a window's system menu the same way), in order."""
        with open(self.trace.name, errors="replace") as f:
            items = re.findall(r"InsertMenuW hMenu (\w+), .* str L\"(.*)\"$", f.read(), re.MULTILINE)
        return [text for menu, text in items if menu == items[-1][0]]

    def post(self, message, wparam=0, lparam=0):
        self.assertTrue(self.driver.call("post", message, wparam, lparam)["ok"])

    def command(self, identifier):
        self.post(WM_COMMAND, identifier, 0)

    # the boxes

    def box(self, caption, timeout=30):
        answer = self.driver.call("box", caption, int(timeout * 1000), timeout=timeout + 30)
        self.assertTrue(answer["ok"], "no %r box appeared" % caption)
        return answer

    def box_count(self, caption):
        return self.driver.call("count", caption)["count"]

    def press(self, caption, button=1):
        self.assertTrue(self.driver.call("press", caption, button, 20000)["ok"],
                        "could not press %d on %r" % (button, caption))

    def sync_with_window(self, command=102, caption="Halvotren Help"):
        """Returns once the window has handled every message posted before:
        it handles them in order, so the box of a later command (Help, or
        About) means the earlier ones are done."""
        self.command(command)
        self.box(caption)
        self.press(caption)
        wait_until(lambda: self.box_count(caption) == 0, 20, what="the %r box to close" % caption)

    def assert_no_box(self, caption, seconds):
        """Watches for `seconds` that no such box opens; a stand-in for
        "never" that is generous against the program's two-second cycle."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.assertEqual(0, self.box_count(caption), "unexpected %r box" % caption)
            time.sleep(0.2)

    # the monitor's cadence, read from the stand-in's log

    def monitor_reads(self):
        """The ticks (ms) of the monitor's get_FirewallEnabled calls."""
        log = firewall_log()
        monitor = monitor_thread(log)
        return [tick for (tick, t, e) in log if e.startswith("get_FirewallEnabled") and t == monitor]

    def wait_monitor_cycles(self, cycles, timeout=None):
        start = len(self.monitor_reads())
        wait_until(lambda: len(self.monitor_reads()) >= start + cycles,
                   timeout or 4 * cycles + 10, what="%d monitor cycles" % cycles)


# --- the tray, as a person sees it ------------------------------------------------

def tray_window_id():
    """The X window in which Wine shows tray icons when no desktop tray
    exists, or None."""
    out = subprocess.run(["xwininfo", "-root", "-tree"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True).stdout
    for line in out.splitlines():
        if '"Wine System Tray"' in line:
            return line.split()[0]
    return None


def capture_tray():
    """(width, height, RGB bytes) of the tray window, or None when absent or
    unmapped."""
    window = tray_window_id()
    if window is None:
        return None
    shot = subprocess.run(["import", "-silent", "-window", window, "-depth", "8", "ppm:-"],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if shot.returncode != 0:
        return None
    return parse_ppm(shot.stdout)


def parse_ppm(data):
    """(width, height, RGB bytes) of a binary PPM with 8-bit samples, or
    None."""
    if not data.startswith(b"P6"):
        return None
    fields = []
    position = 2
    while len(fields) < 3:
        while data[position:position + 1].isspace():
            position += 1
        if data[position:position + 1] == b"#":
            position = data.index(b"\n", position)
            continue
        start = position
        while not data[position:position + 1].isspace():
            position += 1
        fields.append(int(data[start:position]))
    width, height, maxval = fields
    if maxval != 255:
        return None
    return width, height, data[position + 1:position + 1 + width * height * 3]


def read_picture(path):
    """(width, height, RGB bytes) of a picture file, as ImageMagick reads it."""
    converted = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, check=True)
    return parse_ppm(converted.stdout)


def tray_icon_centre():
    """Where our icon sits in the tray window, or None."""
    icons = tray_icons()
    if len(icons) != 1:
        return None
    _, left, size = icons[0]
    return left + size // 2, size // 2


def click_tray(button, repeat=1):
    """Clicks our tray icon as a person would, with the X mouse."""
    centre = wait_until(tray_icon_centre, 20, what="the tray icon to click")
    subprocess.run(["xdotool", "mousemove", "--window", tray_window_id(), str(centre[0]), str(centre[1]),
                    "click", "--repeat", str(repeat), "--delay", "80", str(button)], check=True)


def pointer_over_program():
    """Whether the X pointer rests on a window of Halvotren's, such as its
    open menu. With no window manager, X sends keys to the window under the
    pointer, so keys typed before the menu is mapped reach the tray instead,
    even though Windows already counts the menu as shown."""
    where = subprocess.run(["xdotool", "getmouselocation", "--shell"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True).stdout
    window = dict(line.split("=", 1) for line in where.split() if "=" in line).get("WINDOW")
    if not window:
        return False
    owner = subprocess.run(["xprop", "-id", window, "WM_CLASS"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True).stdout
    return '"halvotren.exe"' in owner.lower()


def press_keys(*keys):
    subprocess.run(["xdotool", "key", "--delay", "60", *keys], check=True)


def click_elsewhere():
    subprocess.run(["xdotool", "mousemove", "700", "600", "click", "1"], check=True)


def _is_green(r, g, b):
    return g > 100 and g > r + 50 and g > b + 30


def _is_red(r, g, b):
    return r > 140 and r > g + 60 and r > b + 60


def shield_pixels(picture, left=0, size=None):
    """How many green and how many red pixels the square of `size` at
    `left` of a picture's top holds (the whole picture without a size)."""
    width, height, pixels = picture
    columns = width - left if size is None else size
    rows = height if size is None else size
    green = red = 0
    for y in range(rows):
        start = 3 * (y * width + left)
        for i in range(start, start + 3 * columns, 3):
            r, g, b = pixels[i], pixels[i + 1], pixels[i + 2]
            if _is_green(r, g, b):
                green += 1
            elif _is_red(r, g, b):
                red += 1
    return green, red


def title_bar_rows(picture):
    """How many rows at the top of a window's picture are a title bar:
    mostly of one colour that is neither the window's face nor white, as
    Wine draws a caption (grey while inactive, blue while active)."""
    width, height, pixels = picture
    face = bytes(pixels[3 * (height // 2 * width + 4):3 * (height // 2 * width + 4) + 3])
    rows = 0
    for y in range(min(height, 30)):
        row = pixels[3 * y * width:3 * (y + 1) * width]
        counts = {}
        for i in range(0, len(row), 3):
            colour = bytes(row[i:i + 3])
            counts[colour] = counts.get(colour, 0) + 1
        colour, count = max(counts.items(), key=lambda item: item[1])
        if count * 2 >= width and colour != face and colour != b"\xff\xff\xff":
            rows += 1
    return rows


def text_lines(picture, rect, border=3, gap=3):
    """How many lines of dark text lie inside rect (left, top, right,
    bottom) of a picture, its border left aside: runs of rows holding dark
    pixels, parted by at least `gap` rows without (an i's dot is closer)."""
    width, _, pixels = picture
    left, top, right, bottom = rect
    lines, blank = 0, gap
    for y in range(top + border, bottom - border):
        if any(max(pixels[i:i + 3]) < 90
               for i in range(3 * (y * width + left + border), 3 * (y * width + right - border), 3)):
            lines += blank >= gap
            blank = 0
        else:
            blank += 1
    return lines


def tray_icons():
    """(colour, left, size) of each icon in the tray, left to right, by its
    dominant shield colour. Wine's tray is a row of square cells, one an
    icon, so each cell is judged alone."""
    shot = capture_tray()
    if shot is None:
        return []
    width, height, _ = shot
    icons = []
    for left in range(0, width - height + 1, height):
        green, red = shield_pixels(shot, left, height)
        if max(green, red) >= 20:
            icons.append(("green" if green > red else "red", left, height))
    return icons


def tray_colour():
    """Our icon's colour, None when the tray shows none; a second icon (a
    Halvotren left running, or started twice) fails the test."""
    icons = tray_icons()
    if len(icons) > 1:
        raise AssertionError("the tray shows %d icons: %s" % (len(icons), [c for c, _, _ in icons]))
    return icons[0][0] if icons else None


class TrayMixin:
    def wait_tray(self, colour, timeout=20):
        wait_until(lambda: tray_colour() == colour, timeout, interval=0.2,
                   what="a %s tray icon" % (colour or "missing"))

    def assert_tray_stays(self, colour, seconds, what=None):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.assertEqual(colour, tray_colour(), what)
            time.sleep(0.25)

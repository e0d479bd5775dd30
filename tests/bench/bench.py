"""Footprint benchmark: how big Halvotren is, what it costs at rest beside a
floor program doing only the unavoidable work, how fast it reacts, whether
what it holds grows, how long its update signature check takes, and which
libraries it keeps mapped at rest and after an update check (that alone with
--memory-only, in about a minute). Runs in the test bed that scripts/bench.sh
starts; prints figures beside the goals and never judges them by its exit
code, which is non-zero only when something could not be measured at all.
"""
import argparse
import contextlib
import glob
import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import bed  # noqa: E402  (the path above must come first)
from test_update import (BOX_TIMEOUT, CHECK_FOR_UPDATES, IDOK, NO_UPDATES,  # noqa: E402
                         VERSION_PATH, remove_proxy, set_proxy)
from update_server import Answer, UpdateServer  # noqa: E402

KIB = 1024
# The limits in force (docs/test-bed.md, the footprint benchmark): the program with an update key, whole
# and outside its icons, and idle CPU and the resident set beside the floor.
SIZE_LIMIT = 71168
OUTSIDE_ICONS_LIMIT = 25088
CPU_RATIO_LIMIT = 1.0
RESIDENT_MARGIN = 0.05
CLOCK_TICK = 1.0 / os.sysconf("SC_CLK_TCK")
SETTLE_SECONDS = 5
FIREWALL_WARNING = "Firewall Warning!"
SERVICES_WARNING = "Firewall Warning"
DRIVER_POLL_MS = 50


class CannotMeasure(Exception):
    pass


def out(text=""):
    print(text, flush=True)


def thousands(number):
    return "{:,}".format(number)


def seconds(value):
    return "%.3f s" % value


# --- sizes ---------------------------------------------------------------------

def resource_section_size(path):
    """Raw size of the .rsrc section, read from the PE section table."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        raise CannotMeasure("%s is no PE file" % path)
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if data[pe:pe + 4] != b"PE\0\0":
        raise CannotMeasure("%s has no PE header" % path)
    coff = pe + 4
    sections = int.from_bytes(data[coff + 2:coff + 4], "little")
    optional_size = int.from_bytes(data[coff + 16:coff + 18], "little")
    table = coff + 20 + optional_size
    for index in range(sections):
        entry = data[table + 40 * index:table + 40 * (index + 1)]
        if entry[:8].rstrip(b"\0") == b".rsrc":
            return int.from_bytes(entry[16:20], "little")
    return 0


def size_rows(build):
    exe = bed.EXE
    whole = os.path.getsize(exe)
    rows = [("Halvotren.exe without resources", whole - resource_section_size(exe), OUTSIDE_ICONS_LIMIT,
             "<= %s B" % thousands(OUTSIDE_ICONS_LIMIT)),
            ("Halvotren.exe whole", whole, SIZE_LIMIT, "<= %s B" % thousands(SIZE_LIMIT))]
    packages = sorted(glob.glob(os.path.join(build, "Halvotren-*.msi")), key=os.path.getmtime)
    if packages:
        rows.append((os.path.basename(packages[-1]), os.path.getsize(packages[-1]), 200 * KIB,
                     "well under 999,999 B; aim 200 KiB (204,800 B)"))
    else:
        rows.append(("Halvotren-*.msi", None, None, "well under 999,999 B; aim 200 KiB (204,800 B)"))
    return rows


def print_sizes(build):
    out("1. Size on disk")
    out("   %-34s %14s   %-46s %s" % ("", "bytes", "goal", ""))
    for name, size, bound, goal in size_rows(build):
        if size is None:
            out("   %-34s %14s   %-46s" % (name, "not built", goal))
        else:
            out("   %-34s %14s   %-46s %s" % (name, thousands(size), goal,
                                               "within" if size <= bound else "over"))
    out()


# --- the processes, seen from Linux ---------------------------------------------

def proc_stat(pid):
    """(state, ppid, utime + stime in seconds) of a Linux process."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return fields[0], int(fields[1]), (int(fields[11]) + int(fields[12])) * CLOCK_TICK


def thread_runtimes(pid):
    """Nanoseconds on a CPU of each live thread, from /proc/<pid>/task/*/
    schedstat: finer than the 10 ms ticks of stat, blind to threads that
    ended."""
    times = {}
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return times
    for tid in tasks:
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                times[tid] = int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            continue
    return times


def proc_rss(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return None


def windows_process(exe):
    """The Linux process that is the Windows process running `exe` under Wine."""
    found = bed.prefix_processes(exe)
    if len(found) != 1:
        raise CannotMeasure("%d Linux processes run %s" % (len(found), os.path.basename(exe)))
    return found[0]


def bed_processes():
    """Wine's own processes of this prefix that the measured program makes
    work for: the server, the tray host and the service manager."""
    found = {key: bed.prefix_processes(key) for key in ("wineserver", "explorer.exe", "services.exe")}
    return {key: pids[0] for key, pids in found.items() if pids}


def cpu_of(pids):
    result = {}
    for key, pid in pids.items():
        try:
            result[key] = proc_stat(pid)[2]
        except OSError:
            result[key] = None
    return result


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


# --- the bed ---------------------------------------------------------------------

def all_well(driver):
    bed.reset_firewall()
    for name in bed.SERVICES:
        bed.set_service_order(name, None)
        bed.ensure_service_exists(name)
        if not driver.call("service", name, "start", 20000)["ok"]:
            raise CannotMeasure("service %s does not start" % name)


def firewall_reads():
    return len(bed.firewall_events("get_FirewallEnabled"))


def measure_cpu(pid, window):
    """CPU seconds of one process and of the bed's own processes over
    `window` seconds of wall time."""
    context = bed_processes()
    reads = firewall_reads()
    load_before = loadavg()
    wall_start = time.monotonic()
    start = proc_stat(pid)[2]
    threads_start = thread_runtimes(pid)
    context_start = cpu_of(context)
    time.sleep(window)
    state, _, end = proc_stat(pid)
    threads_end = thread_runtimes(pid)
    wall = time.monotonic() - wall_start
    context_end = cpu_of(context)
    if state == "Z":
        raise CannotMeasure("the measured process ended during the window")
    spent = {key: context_end[key] - context_start[key] for key in context
             if context_start[key] is not None and context_end[key] is not None}
    fine = sum(ns - threads_start.get(tid, 0) for tid, ns in threads_end.items()) / 1e9
    return {"cpu": end - start, "fine": fine, "wall": wall, "context": spent,
            "reads": firewall_reads() - reads, "load": "%s -> %s" % (load_before, loadavg()),
            "threads": "%d -> %d" % (len(threads_start), len(threads_end))}


@contextlib.contextmanager
def settled_floor(driver, floor, lifetime):
    """floor.exe running for `lifetime` seconds, past its settling time:
    yields it and its Linux pid; kills it if still there."""
    all_well(driver)
    program = subprocess.Popen(["wine", floor, str(int(lifetime))], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        time.sleep(SETTLE_SECONDS)
        if program.poll() is not None:
            raise CannotMeasure("floor.exe ended early (exit %d): firewall or services unreachable"
                                % program.returncode)
        yield program, windows_process(floor)
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def run_floor(driver, floor, window):
    with settled_floor(driver, floor, SETTLE_SECONDS + window + 3) as (program, pid):
        figures = measure_cpu(pid, window)
        figures["pid"] = pid
        code = program.wait(timeout=60)
        if code != 0:
            raise CannotMeasure("floor.exe ended with %d" % code)
        return figures


def start_halvotren(driver):
    all_well(driver)
    program = subprocess.Popen(["wine", bed.EXE], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not driver.call("window", 20000)["ok"]:
        program.kill()
        program.wait()
        raise CannotMeasure("Halvotren's window did not appear")
    try:
        bed.wait_until(lambda: bed.tray_colour() == "green", 20, what="a green tray icon")
    except AssertionError as failure:
        program.kill()
        program.wait()
        raise CannotMeasure(str(failure))
    return program


def stop_halvotren(driver, program):
    if program.poll() is None:
        program.kill()
        program.wait()
    driver.call("gone", 10000)


def run_halvotren(driver, window):
    program = start_halvotren(driver)
    try:
        pid = windows_process(bed.EXE)
        time.sleep(SETTLE_SECONDS)
        figures = measure_cpu(pid, window)
        figures["pid"] = pid
        return figures
    finally:
        stop_halvotren(driver, program)


# Each round measures floor, Halvotren, Halvotren, floor, one after the
# other, so that a drift of the machine's speed over the run weighs on both
# alike; each pair next to each other gives one ratio.
ROUND = ("floor.exe", "Halvotren.exe", "Halvotren.exe", "floor.exe")


def measure_idle(driver, floor, window, rounds):
    windows = []
    for _ in range(rounds):
        for name in ROUND:
            figures = run_floor(driver, floor, window) if name == "floor.exe" else run_halvotren(driver, window)
            windows.append((name, figures))
    return windows


def pair_ratios(windows, key):
    """Halvotren over floor for each neighbouring pair of a round."""
    ratios = []
    for start in range(0, len(windows), 4):
        f1, p1, p2, f2 = (figures[key] for _, figures in windows[start:start + 4])
        ratios += [p1 / f1 if f1 > 0 else None, p2 / f2 if f2 > 0 else None]
    return [r for r in ratios if r is not None]


def print_cpu(windows, window, rounds):
    out("2. Idle CPU, all well, %d s a window, %d round(s) of floor, Halvotren, Halvotren, floor"
        % (window, rounds))
    out("   CPU: utime+stime from /proc/<pid>/stat (%d ms ticks); fine: the threads' schedstat (ns)"
        % round(CLOCK_TICK * 1000))
    out("   %-26s %10s %10s %14s %9s %8s   %s" % ("", "CPU", "fine", "% of one core", "fw reads",
                                                  "threads", "Linux pid"))
    for name, figures in windows:
        out("   %-26s %10s %10s %13.3f%% %9d %8s   %d" % (
            name, seconds(figures["cpu"]), seconds(figures["fine"]),
            100.0 * figures["cpu"] / figures["wall"], figures["reads"], figures["threads"],
            figures["pid"]))
    for key, label in (("fine", "fine"), ("cpu", "CPU")):
        ratios = pair_ratios(windows, key)
        total = {name: sum(f[key] for n, f in windows if n == name) for name in set(ROUND)}
        if not ratios or total["floor.exe"] <= 0:
            out("   ratio Halvotren / floor (%s): not measurable" % label)
            continue
        overall = total["Halvotren.exe"] / total["floor.exe"]
        spread = statistics.stdev(ratios) if len(ratios) > 1 else 0.0
        verdict = " (%s)" % ("within" if overall <= CPU_RATIO_LIMIT else "over") if key == "fine" else ""
        out("   ratio Halvotren / floor (%s): %.2f overall; pairs %s; spread (sd) %.2f, range %.2f-%.2f;"
            " goal <= %.1f%s" % (label, overall, " ".join("%.2f" % r for r in ratios), spread,
                                 min(ratios), max(ratios), CPU_RATIO_LIMIT, verdict))
    out("   Both do the required work: Halvotren's tray icon loaded from the resources, handed to")
    out("   the shell and destroyed every second; the profile type in force asked, one firewall read")
    out("   and two service queries every 2 s.")
    out("   The bed's own processes over each window (not counted above):")
    for name, figures in windows:
        out("     %-24s %s" % (name, ", ".join("%s %s" % (key, seconds(value))
                                              for key, value in sorted(figures["context"].items()))))
    out("   Machine load (1/5/15 min) over the windows: %s" % "; ".join(f["load"] for _, f in windows))
    out()


# --- latencies ---------------------------------------------------------------------

class TrayPoll:
    """Watches the tray as finely as capturing it allows and keeps the
    period it achieved, which is the resolution of what it reports."""

    PAUSE = 0.01

    def __init__(self):
        self.periods = []

    def until(self, colour, start, timeout):
        deadline = start + timeout
        previous = time.monotonic()
        while True:
            seen = bed.tray_colour()
            now = time.monotonic()
            self.periods.append(now - previous)
            previous = now
            if seen == colour:
                return now - start
            if now >= deadline:
                return None
            time.sleep(self.PAUSE)

    def resolution(self):
        return statistics.median(self.periods) if self.periods else float("nan")


def wait_green(tray, timeout=15):
    if tray.until("green", time.monotonic(), timeout) is None:
        raise CannotMeasure("the tray did not turn green again")


def random_phase():
    """Waiting for green before each trial ties the trial to the monitor's
    two-second cycle; a random pause unties it, so that the trials sample
    the whole cycle instead of one point of it."""
    time.sleep(random.uniform(0, 2.0))


def firewall_trial(driver, tray, results):
    random_phase()
    start = time.monotonic()
    bed.set_firewall(enabled=0)
    answer = driver.call("box", FIREWALL_WARNING, 10000, timeout=40)
    if answer["ok"]:
        results["warning"].append(time.monotonic() - start)
        pressed = time.monotonic()
        # Returns once the box is destroyed, just before MessageBox returns.
        if not driver.call("press", FIREWALL_WARNING, 1, 10000)["ok"]:
            raise CannotMeasure("could not press OK on %r" % FIREWALL_WARNING)
        destroyed = time.monotonic()
        results["box_destroyed"].append(destroyed - pressed)
        red = tray.until("red", pressed, 10)
        results["red_after_ok"].append(red)
        results["red_after_destroyed"].append(None if red is None else red - (destroyed - pressed))
    else:
        results["warning"].append(None)
    bed.set_firewall(enabled=1)
    wait_green(tray)


def service_trial(driver, tray, results):
    random_phase()
    start = time.monotonic()
    if not driver.call("service", "IpNat", "stop", 20000)["ok"]:
        raise CannotMeasure("IpNat does not stop")
    results["stop_call"].append(time.monotonic() - start)
    results["red_after_stop"].append(tray.until("red", start, 10))
    if driver.call("box", SERVICES_WARNING, 10000, timeout=40)["ok"]:
        driver.call("press", SERVICES_WARNING, 1, 10000)
    if not driver.call("service", "IpNat", "start", 20000)["ok"]:
        raise CannotMeasure("IpNat does not start again")
    wait_green(tray)


def ping_time(driver):
    times = []
    for _ in range(20):
        start = time.monotonic()
        driver.call("ping")
        times.append(time.monotonic() - start)
    return statistics.median(times)


def measure_latencies(driver, trials):
    tray = TrayPoll()
    results = {"warning": [], "red_after_ok": [], "box_destroyed": [], "red_after_destroyed": [],
               "red_after_stop": [], "stop_call": []}
    for _ in range(trials):
        firewall_trial(driver, tray, results)
    for _ in range(trials):
        service_trial(driver, tray, results)
    results["tray_resolution"] = tray.resolution()
    results["driver_round_trip"] = ping_time(driver)
    return results


def print_latencies(results, trials):
    out("3. Latencies, %d trials each" % trials)
    out("   %-34s %10s %10s %8s   %s" % ("", "median", "max", "missed", "the program aims at"))
    rows = (("firewall off -> warning box", "warning", "about 2 s"),
            ("OK pressed -> tray red", "red_after_ok", "about 1 s"),
            ("  of which: OK -> box destroyed", "box_destroyed", "(Wine's, see below)"),
            ("  box destroyed -> tray red", "red_after_destroyed", "about 1 s"),
            ("IpNat stop -> tray red", "red_after_stop", "about 1 s"))
    for name, key, aim in rows:
        values = [v for v in results[key] if v is not None]
        missed = len(results[key]) - len(values)
        if values:
            out("   %-34s %10s %10s %8d   %s" % (name, seconds(statistics.median(values)),
                                                 seconds(max(values)), missed, aim))
        else:
            out("   %-34s %10s %10s %8d   %s" % (name, "-", "-", missed, aim))
    out("   resolution: the box is seen by the driver's own %d ms poll (its round trip is %.2f ms);"
        % (DRIVER_POLL_MS, results["driver_round_trip"] * 1000))
    out("   the tray is captured every %.0f ms; the IpNat row includes the stop itself (median %s)."
        % (results["tray_resolution"] * 1000, seconds(statistics.median(results["stop_call"]))))
    out("   The monitor samples every 2 s and the icon follows at its next 1 s tick; each trial")
    out("   starts at a random point of that cycle.")
    out("   Under Wine on a display without a window manager a dismissed box is hidden at once but")
    out("   destroyed, and MessageBox returns, only after winex11 gives up waiting ~2 s for a window")
    out("   manager to withdraw it (wait_for_withdrawn_state); Windows has no such wait.")
    out()


# --- resources --------------------------------------------------------------------------

def counts(driver, pid):
    answer = driver.call("counts")
    if not answer["ok"]:
        raise CannotMeasure("driver counts: %s" % answer.get("error"))
    answer["rss"] = proc_rss(pid)
    return answer


def print_counts(samples):
    """samples: (label, seconds since the first, counts) in time order."""
    out("4. What Halvotren.exe holds, all well and no box open")
    out("   %-34s" % "" + "".join("%16s" % label for label, _, _ in samples) + "%12s" % "change")
    out("   %-34s" % "(seconds after the first sample)" +
        "".join("%16s" % ("%.0f s" % at) for _, at, _ in samples))
    first, last = samples[0][2], samples[-1][2]

    def row(name, key, unavailable=None):
        if unavailable:
            out("   %-34s %s" % (name, unavailable))
            return
        values = [figures.get(key) for _, _, figures in samples]
        if any(value is None for value in values):
            out("   %-34s %s" % (name, "not available under Wine"))
            return
        out("   %-34s" % name + "".join("%16s" % thousands(value) for value in values) +
            "%12s" % "{:+,}".format(values[-1] - values[0]))

    row("working set, B (Wine)", "working_set")
    row("peak working set, B (Wine)", "peak_working_set")
    row("private bytes, B (Wine)", "private_bytes")
    row("resident set, B (/proc VmRSS)", "rss")
    # A process with a window and two threads holds handles and USER
    # objects: a zero here is an unimplemented counter, not an empty one.
    row("handles (GetProcessHandleCount)", "handles",
        "not available under Wine (answers 0)" if not first.get("handles") else None)
    row("handles (system handle list)", "handles_listed")
    row("GDI objects (GetGuiResources)", "gdi",
        "not available under Wine (answers 0)" if not first.get("gdi") and not last.get("gdi") else None)
    row("USER objects (GetGuiResources)", "user",
        "not available under Wine (answers 0)" if not first.get("user") and not last.get("user") else None)
    out("   The system handle list is NtQuerySystemInformation's, which Wine's server keeps; the")
    out("   idle column shows what the icon's load and destroy every second leaves behind, the last")
    out("   adds the latency trials' boxes.")
    out()


# --- the update signature check ---------------------------------------------------------

SIGNED_BYTES = 1000000


def openssl(*arguments):
    subprocess.run(["openssl"] + list(arguments), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def print_signature_check(build):
    """verify_bench.exe, the program's own check built as Halvotren.exe's, on
    a message signed here with a fresh key by openssl."""
    bench = os.path.join(build, "tests", "bench", "verify_bench.exe")
    if not os.path.exists(bench):
        raise CannotMeasure("%s is not built" % bench)
    with tempfile.TemporaryDirectory() as folder:
        key, message, signature, public = (os.path.join(folder, name)
                                           for name in ("key.pem", "message", "signature", "public.der"))
        with open(message, "wb") as f:
            f.write(os.urandom(SIGNED_BYTES))
        try:
            openssl("genpkey", "-algorithm", "ed25519", "-out", key)
            openssl("pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", message, "-out", signature)
            openssl("pkey", "-in", key, "-pubout", "-outform", "DER", "-out", public)
        except (OSError, subprocess.CalledProcessError) as failure:
            raise CannotMeasure("openssl: %s" % failure)
        raw = public + ".raw"
        with open(public, "rb") as f, open(raw, "wb") as r:
            r.write(f.read()[-32:])  # the key is the DER's last 32 bytes
        result = subprocess.run(["wine", bench, message, signature, raw, "21"], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True, timeout=300)
    figures = result.stdout.strip()
    if result.returncode not in (0, 1) or not figures:
        raise CannotMeasure("verify_bench.exe ended with %d" % result.returncode)
    out("5. Update signature check (Ed25519 over SHA-512), one check of a %s-byte message"
        % thousands(SIGNED_BYTES))
    out("   %s" % figures)
    out("   goal: well under 1 s on the hardware of Windows XP's time")
    out()


# --- memory and libraries mapped, at rest and after an update check ---------------------

# A library is a file whose name ends in .dll, .so or .so.<n>.
LIBRARY = re.compile(r"\.(dll|so)(\.[0-9]+)*$", re.IGNORECASE)
UPDATE_LIBRARIES = ("wininet.dll", "msi.dll")
# The version the build is, so that the check finds nothing newer.
NOT_NEWER = "%s:http://www.halvotren.example/downloads/x.msi\r\n" % os.environ.get("HALVOTREN_VERSION", "")
AFTER_CHECK_SECONDS = 3


def mapped(pid):
    """Resident bytes, the lines of /proc/<pid>/maps naming a library, the
    distinct library files among them, and whether each update library is
    one of them."""
    libraries = [path for path in bed.mapped_files(pid) if LIBRARY.search(path)]
    names = {os.path.basename(path).lower() for path in libraries}
    figures = {"rss": proc_rss(pid), "regions": len(libraries), "files": len(set(libraries)), "names": names}
    figures.update((name, name in names) for name in UPDATE_LIBRARIES)
    return figures


def floor_at_rest(driver, floor):
    with settled_floor(driver, floor, SETTLE_SECONDS + 3) as (program, pid):
        figures = mapped(pid)
        program.wait(timeout=60)
        return figures


def halvotren_around_check(driver):
    """Halvotren at rest, with the box of one update check open, and after
    the check has ended, against the loopback update server as the prefix's
    proxy offering nothing newer."""
    server = UpdateServer()
    server.serve(VERSION_PATH, Answer(NOT_NEWER, content_type="text/plain"))
    program = None
    try:
        program = start_halvotren(driver)
        pid = windows_process(bed.EXE)
        time.sleep(SETTLE_SECONDS)
        figures = {"rest": mapped(pid)}
        set_proxy(server.port)
        try:
            start = time.monotonic()
            if not driver.call("post", bed.WM_COMMAND, CHECK_FOR_UPDATES, 0)["ok"]:
                raise CannotMeasure("could not post the update check")
            if not driver.call("box", NO_UPDATES, BOX_TIMEOUT * 1000, timeout=BOX_TIMEOUT + 30)["ok"]:
                raise CannotMeasure("no %r box (requests seen: %s)"
                                    % (NO_UPDATES, [r.path for r in server.seen()] or "none"))
            figures["answer"] = time.monotonic() - start
            figures["box"] = mapped(pid)
            if not driver.call("press", NO_UPDATES, IDOK, 10000)["ok"]:
                raise CannotMeasure("could not press OK on %r" % NO_UPDATES)
        finally:
            remove_proxy()
        time.sleep(AFTER_CHECK_SECONDS)
        figures["after"] = mapped(pid)
        return figures
    finally:
        server.stop()
        if program is not None:
            stop_halvotren(driver, program)


def print_memory(floor):
    driver = bed.Driver()
    try:
        columns = [("floor.exe", floor_at_rest(driver, floor))]
        halvotren = halvotren_around_check(driver)
    finally:
        driver.close()
    columns += [("Halvotren.exe", halvotren["rest"]), ("box open", halvotren["box"]),
                ("after check", halvotren["after"])]
    out("6. Memory and libraries mapped, all well, %d s after the start" % SETTLE_SECONDS)
    out("   resident set: VmRSS of /proc/<pid>/status; library regions: lines of /proc/<pid>/maps")
    out("   whose path ends in .dll, .so or .so.<n> (Wine's and the system's libraries included);")
    out("   library files: the distinct such paths")
    out("   %-24s" % "" + "".join("%16s" % name for name, _ in columns))
    for label, key in (("resident set, B", "rss"), ("library regions", "regions"), ("library files", "files"),
                       ("wininet.dll mapped", "wininet.dll"), ("msi.dll mapped", "msi.dll")):
        values = [figures[key] for _, figures in columns]
        out("   %-24s" % label + "".join("%16s" % ("-" if value is None else ("yes" if value else "no")
                                                    if isinstance(value, bool) else thousands(value))
                                         for value in values))
    (_, floor_figures), (_, rest), _, (_, after) = columns
    if floor_figures["rss"] and rest["rss"]:
        more = rest["rss"] / floor_figures["rss"] - 1
        out("   Halvotren.exe at rest is %.1f%% %s resident than floor.exe (goal: within %d%%, %s)"
            % (abs(more) * 100, "more" if more >= 0 else "less", RESIDENT_MARGIN * 100,
               "within" if more <= RESIDENT_MARGIN else "over"))
    for label, more, less in (("Halvotren.exe beyond floor.exe", rest, floor_figures),
                              ("left mapped after the check", after, rest)):
        out(textwrap.fill("%s: %s" % (label, ", ".join(sorted(more["names"] - less["names"])) or "none"),
                          width=96, initial_indent="   ", subsequent_indent="     "))
    out("   The last two columns are Halvotren again: one Check for Updates (command %d) against"
        % CHECK_FOR_UPDATES)
    out("   the loopback update server as the prefix's proxy, offering")
    out("   %r;" % NOT_NEWER.strip())
    out("   \"box open\": its %r box, %.1f s after the command; \"after check\": %d s after OK."
        % (NO_UPDATES, halvotren["answer"], AFTER_CHECK_SECONDS))
    out()


# --- the run ----------------------------------------------------------------------------

def sections_one_to_five(arguments, build, floor, unmeasured):
    """Prints the first five sections; adds what it could not measure to unmeasured."""
    try:
        print_sizes(build)
    except (OSError, CannotMeasure) as failure:
        out("1. Size: could not measure: %s\n" % failure)
        unmeasured.append("size")

    driver = bed.Driver()
    program = None
    try:
        try:
            print_cpu(measure_idle(driver, floor, arguments.cpu_seconds, arguments.rounds),
                      arguments.cpu_seconds, arguments.rounds)
        except CannotMeasure as failure:
            out("2. Idle CPU: could not measure: %s\n" % failure)
            unmeasured.append("idle CPU")

        program = start_halvotren(driver)
        pid = windows_process(bed.EXE)
        time.sleep(SETTLE_SECONDS)
        first_at = time.monotonic()
        samples = [("at start", 0.0, counts(driver, pid))]
        time.sleep(arguments.cpu_seconds)
        samples.append(("after idle", time.monotonic() - first_at, counts(driver, pid)))

        try:
            latencies = measure_latencies(driver, arguments.trials)
            print_latencies(latencies, arguments.trials)
        except (CannotMeasure, AssertionError) as failure:
            out("3. Latencies: could not measure: %s\n" % failure)
            unmeasured.append("latencies")

        time.sleep(SETTLE_SECONDS)
        samples.append(("after run", time.monotonic() - first_at, counts(driver, pid)))
        print_counts(samples)
    except (CannotMeasure, AssertionError, OSError) as failure:
        out("bench: could not measure: %s" % failure)
        unmeasured.append("the program")
    finally:
        if program is not None:
            stop_halvotren(driver, program)
        driver.close()
    try:
        print_signature_check(build)
    except (OSError, subprocess.SubprocessError, CannotMeasure) as failure:
        out("5. Update signature check: could not measure: %s\n" % failure)
        unmeasured.append("signature check")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cpu-seconds", type=float, default=60, help="length of each idle window")
    parser.add_argument("--rounds", type=int, default=1,
                        help="rounds of floor, Halvotren, Halvotren, floor windows")
    parser.add_argument("--trials", type=int, default=10, help="trials a latency (at least 10 for the record)")
    parser.add_argument("--memory-only", action="store_true",
                        help="only the memory and libraries mapped at rest and after an update check")
    arguments = parser.parse_args()

    build = os.environ.get("HALVOTREN_BUILD", "")
    floor = os.environ.get("HALVOTREN_FLOOR", "")
    if not (bed.PREFIX and bed.EXE and bed.FIXTURES and floor and build):
        out("bench: run through scripts/bench.sh")
        return 2
    wine_version = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
    out("Halvotren footprint benchmark - %s, %s, %d CPUs" % (time.strftime("%Y-%m-%d %H:%M"),
                                                            wine_version, os.cpu_count()))
    out("build %s" % build)
    out()
    unmeasured = []
    began = time.monotonic()
    if not arguments.memory_only:
        sections_one_to_five(arguments, build, floor, unmeasured)
    try:
        print_memory(floor)
    except (CannotMeasure, AssertionError, OSError, subprocess.SubprocessError) as failure:
        out("6. Memory and libraries mapped: could not measure: %s\n" % failure)
        unmeasured.append("memory and libraries")
    out("total time %.0f s" % (time.monotonic() - began))
    if unmeasured:
        out("not measured: %s" % ", ".join(unmeasured))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

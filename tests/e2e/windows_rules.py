"""Windows' documented rules for the calls the program makes, applied to
Wine's relay trace of them.

Wine accepts calls that Windows refuses (a synchronous open without
SYNCHRONIZE, for one), so a path that works here proves nothing of those
calls. Wine can show each one, though: with WINEDEBUG=+pid,+relay (and
trace+loaddll, which names each process's program) every call into a
function listed in RelayInclude (HKCU\\Software\\Wine\\Debug) is printed
with its arguments, e.g.

    0020:0024:Call ntdll.NtCreateFile(0061f074,80100000,...,00000021,00000000,00000000) ret=00403cce

The calls the program's own code made are those of its processes whose
return address lies in its image; each is held against the rules below,
each rule with the sentence of Microsoft's documentation it enforces. A
thread is known by its trace, process and id together: Wine hands ids out
again, and one wineserver serves every trace.

To add a rule: write a check that takes a Call (and the calls of its
thread or process, for rules of order) and returns what is wrong, KEPT when
the call is one the rule is about and keeps it, or None when the rule does
not apply to it; add it to RULES under the function it concerns, with the
documentation's sentence as its comment. Its function joins RelayInclude by
itself. The scenario requires every rule to apply at least once, unless
GUARDS lists it with the reason it cannot; give it a row of its own in
test_windows_rules_crafted.py, which feeds it a crafted trace. Then plant
the fault it catches once and see the scenario fail with the call's line.
"""
import os
import re
import struct
from collections import namedtuple

# Wine implements many kernel32 and ole32 functions in kernelbase and
# combase, and names them there; the rules name them as the program imports
# them.
IMPLEMENTED_IN = {"kernel32": "kernelbase", "ole32": "combase"}

SYNCHRONIZE = 0x00100000
FILE_DIRECTORY_FILE = 0x1
FILE_SYNCHRONOUS_IO_ALERT = 0x10
FILE_SYNCHRONOUS_IO_NONALERT = 0x20
FILE_OPEN, FILE_CREATE, FILE_OPEN_IF = 1, 2, 3
FILE_FLAG_BACKUP_SEMANTICS = 0x02000000
MB_SETFOREGROUND = 0x00010000
MB_TOPMOST = 0x00040000
MOVEFILE_COPY_ALLOWED = 0x2
MOVEFILE_DELAY_UNTIL_REBOOT = 0x4
PROCESS_QUERY_LIMITED_INFORMATION = 0x1000
PROCESS_ALL_ACCESS_VISTA = 0x1FFFFF
MAX_PATH = 260
REG_SZ = 1
WM_NULL = 0
COINIT_APARTMENTTHREADED = 0x2
RPC_E_CHANGED_MODE = 0x80010106
CURRENT_PROCESS = 0xFFFFFFFF
TRAY_WINDOW_CLASS = "Halvotren"
FALL_WARNINGS = ("Firewall Warning!", "Firewall Warning")
# What a rule returns for a call it applies to and that keeps it.
KEPT = ""

# trace: which of the traces read the call comes from; details: what
# Wine's own trace of the call tells of a record it was handed (ShellExecuteExA's).
Call = namedtuple("Call", "index trace pid thread function args strings retval line details",
                  defaults=(None,))

CALL = re.compile(r"^(\w+):(\w+):Call ([\w.]+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
RET = re.compile(r"^(\w+):(\w+):Ret  ([\w.]+)\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$")
ARGUMENT = re.compile(r'([0-9a-f]+)(?: (L?"(?:[^"\\]|\\.)*"))?(?:,|$)')
LOADED = re.compile(r'^(\w+):\w+:trace:loaddll:\w+ Loaded L"(.*)" at ([0-9A-F]+): ')
# ShellExecuteExA's record as Wine's shell (trace+exec) reads it, once it
# took the record's size.
EXECUTE = re.compile(r'^(\w+):(\w+):trace:exec:SHELL_execute mask=(?:0x)?([0-9a-f]+) hwnd=\w+ '
                     r'verb=(L"(?:[^"\\]|\\.)*"|\S+) file=(L"(?:[^"\\]|\\.)*"|\S+) '
                     r'parm=(L"(?:[^"\\]|\\.)*"|\S+) ')
SEE_MASK_NOCLOSEPROCESS = 0x40
SEE_MASK_NOASYNC = 0x100
SEE_MASK_FLAG_NO_UI = 0x400


def _unescape(text):
    if not text:
        return None
    body = text[2:-1] if text.startswith("L") else text[1:-1]
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), body)


def image_size(path):
    """SizeOfImage of a PE file: how far its code can lie above its base."""
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<I", data, pe + 24 + 56)[0]


def own_calls(traces, programs):
    """The calls the program's own code made, in order, in `traces` (each
    the lines of one trace). `programs` maps a
    lower-case file name, or a suffix such as ".tmp" (Windows Installer
    runs a program of the package's Binary table from a temporary file),
    to that program's image size; a process is ours when the first module
    it loads, its program, is one of them."""
    images = {}
    pending = {}
    calls = []
    for trace, line in ((trace, line) for trace, lines in enumerate(traces) for line in lines):
        line = line.rstrip("\n")
        loaded = LOADED.match(line)
        if loaded:
            process, path, base = (trace, loaded.group(1)), loaded.group(2), int(loaded.group(3), 16)
            if process not in images:
                name = path.replace("\\\\", "\\").rsplit("\\", 1)[-1].lower()
                size = next((size for key, size in programs.items() if name == key or
                             (key.startswith(".") and name.endswith(key))), None)
                images[process] = (base, base + size) if size else None
            continue
        called = CALL.match(line)
        if called:
            pid, thread, module, function, arguments, ret = called.groups()
            image = images.get((trace, pid))
            if image is None or not image[0] <= int(ret, 16) < image[1]:
                continue
            args, strings = [], []
            for value, text in ARGUMENT.findall(arguments):
                args.append(int(value, 16))
                strings.append(_unescape(text))
            module = module.lower()
            documented = next((name for name, wine in IMPLEMENTED_IN.items() if wine == module), module)
            call = Call(len(calls), trace, pid, thread, documented + "." + function, args, strings, [None], line,
                        {})
            calls.append(call)
            pending[(trace, pid, thread, function, ret)] = call
            continue
        executed = EXECUTE.match(line)
        if executed:
            # The record of the thread's ShellExecuteExA under way.
            pid, thread = executed.group(1, 2)
            call = next((c for key, c in pending.items() if key[:3] == (trace, pid, thread)
                         and c.function == "shell32.ShellExecuteExA"), None)
            if call is not None:
                call.details.update(mask=int(executed.group(3), 16), verb=_unescape(executed.group(4)),
                                    file=_unescape(executed.group(5)), parameters=_unescape(executed.group(6)))
            continue
        returned = RET.match(line)
        if returned:
            call = pending.pop((trace,) + returned.group(1, 2, 4, 6), None)
            if call is not None:
                call.retval[0] = int(returned.group(5), 16)
    return calls


def process_of(call):
    return call.trace, call.pid


def thread_of(call):
    return call.trace, call.pid, call.thread


def around(call, calls, of=thread_of):
    """The calls of call's thread (or, with of=process_of, of its process)
    before it, and after it."""
    mine = [other for other in calls if of(other) == of(call)]
    at = mine.index(call)
    return mine[:at], mine[at + 1:]


def entered(c):
    """A CoInitializeEx that succeeded (S_OK or S_FALSE)."""
    return c.function == "ole32.CoInitializeEx" and c.retval[0] is not None and c.retval[0] < 0x80000000


# --- the checks: each returns what is wrong with a call, or None ---------------

def synchronous_open_has_synchronize(call, calls):
    access, options = call.args[1], call.args[8]
    if not options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT):
        return None
    if not access & SYNCHRONIZE:
        return "synchronous I/O (options 0x%x) without SYNCHRONIZE in the access 0x%x" % (options, access)
    return KEPT


def one_synchronous_mode(call, calls):
    if not call.args[8] & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT):
        return None
    if call.args[8] & FILE_SYNCHRONOUS_IO_ALERT and call.args[8] & FILE_SYNCHRONOUS_IO_NONALERT:
        return "both FILE_SYNCHRONOUS_IO_ALERT and FILE_SYNCHRONOUS_IO_NONALERT"
    return KEPT


def directory_disposition(call, calls):
    if not call.args[8] & FILE_DIRECTORY_FILE:
        return None
    if call.args[7] not in (FILE_OPEN, FILE_CREATE, FILE_OPEN_IF):
        return "FILE_DIRECTORY_FILE with disposition %d" % call.args[7]
    return KEPT


def folder_opened_with_backup_semantics(call, calls):
    path = call.strings[0] or ""
    names_folder = path.endswith("\\") or re.search(r"\\~halvotren_update\d$", path, re.IGNORECASE)
    if not names_folder:
        return None
    if not call.args[5] & FILE_FLAG_BACKUP_SEMANTICS:
        return "a folder opened without FILE_FLAG_BACKUP_SEMANTICS"
    return KEPT


def fall_warning_in_front(call, calls):
    wanted = MB_TOPMOST | MB_SETFOREGROUND
    if call.strings[2] not in FALL_WARNINGS:
        return None
    if call.args[3] & wanted != wanted:
        return "the warning %r (type 0x%x) is not MB_TOPMOST | MB_SETFOREGROUND" % (call.strings[2], call.args[3])
    return KEPT


def full_path(path):
    return path is not None and re.match(r'^"?[A-Za-z]:\\', path) is not None


def library_by_full_path(call, calls):
    if not full_path(call.strings[0]):
        return "a library loaded by %r, not by its full path" % call.strings[0]
    return KEPT


def program_by_full_path(call, calls):
    application, command = call.strings[0], call.strings[1]
    if application is None and not full_path(command):
        return "no program named, and the command line %r does not begin with a full path" % command
    if application is not None and not full_path(application):
        return "the program %r is not a full path" % application
    return KEPT


def access_xp_knows(call, calls):
    access = call.args[0]
    if access == PROCESS_ALL_ACCESS_VISTA or access & PROCESS_QUERY_LIMITED_INFORMATION:
        return "access 0x%x, which XP does not grant" % access
    return KEPT


def delayed_move_not_copied(call, calls):
    flags = call.args[2]
    if not flags & MOVEFILE_DELAY_UNTIL_REBOOT:
        return None
    if flags & MOVEFILE_COPY_ALLOWED:
        return "MOVEFILE_DELAY_UNTIL_REBOOT with MOVEFILE_COPY_ALLOWED"
    return KEPT


def folder_buffer_of_max_path(call, calls):
    size = call.args[0] if call.function.endswith("GetTempPathA") else call.args[1]
    if size < MAX_PATH:
        return "a buffer of %d characters, under MAX_PATH" % size
    return KEPT


def string_value_has_terminator(call, calls):
    if call.args[3] != REG_SZ:
        return None
    if call.args[5] == 0:
        return "a REG_SZ value of 0 bytes, without its terminator"
    return KEPT


def tray_menu_in_foreground(call, calls):
    earlier, later = around(call, calls)
    window = call.args[5]
    before = earlier[-1] if earlier else None
    after = later[0] if later else None
    if before is None or before.function != "user32.SetForegroundWindow" or before.args[0] != window:
        return "not preceded by SetForegroundWindow of its window %08x" % window
    if after is None or after.function != "user32.PostMessageA" or after.args[:2] != [window, WM_NULL]:
        return "not followed by a WM_NULL posted to its window %08x" % window
    return KEPT


def single_threaded_apartment_pumps(call, calls):
    if not call.args[1] & COINIT_APARTMENTTHREADED:
        return None
    if not any(c.function in MESSAGE_PUMPS for c in around(call, calls)[1]):
        return "a single-threaded apartment whose thread never takes a message"
    return KEPT


def com_entered_first(call, calls):
    earlier = around(call, calls)[0]
    if not any(entered(c) or (c.function == "ole32.CoInitializeEx" and c.retval[0] == RPC_E_CHANGED_MODE)
               for c in earlier):
        return "on a thread that has entered no apartment"
    return KEPT


def uninitialize_balanced(call, calls):
    earlier = around(call, calls)[0]
    if sum(1 for c in earlier if entered(c)) <= sum(1 for c in earlier if c.function == call.function):
        return "without a successful CoInitializeEx of its own on the thread"
    return KEPT


def program_ends_by_terminating_itself(call, calls):
    # Judged at the tray window: the waiter and the closing program make
    # none.
    if call.strings[1] != TRAY_WINDOW_CLASS:
        return None
    earlier, later = around(call, calls, of=process_of)
    exits = [c for c in earlier + later if c.function == "kernel32.ExitProcess"]
    if exits:
        return "the process with the tray window ends by ExitProcess(%d)" % exits[0].args[0]
    if not any(c.function == "kernel32.TerminateProcess" and c.args[0] == CURRENT_PROCESS for c in later):
        return "the process with the tray window does not end by TerminateProcess(GetCurrentProcess(), code)"
    return KEPT


def consent_record_as_documented(call, calls):
    record = call.details or {}
    if not record:
        # Wine, as Windows, takes no record of another size.
        return "a record ShellExecuteExA refused at once: cbSize is not sizeof(SHELLEXECUTEINFOA)"
    wanted = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI
    if record["mask"] & wanted != wanted:
        return "mask 0x%x without SEE_MASK_NOCLOSEPROCESS, SEE_MASK_NOASYNC and SEE_MASK_FLAG_NO_UI" % record["mask"]
    if not full_path(record["file"]):
        return "the program %r is not a full path" % record["file"]
    if record["verb"] != "runas" or record["parameters"] not in ("on", "off"):
        return "verb %r with parameters %r, not runas with on or off" % (record["verb"], record["parameters"])
    return KEPT


# Each function checked, and its rules.
RULES = {
    "ntdll.NtCreateFile": [
        # NtCreateFile, CreateOptions, FILE_SYNCHRONOUS_IO_NONALERT: "If this
        # flag is set, the SYNCHRONIZE flag must be set in the DesiredAccess
        # parameter." (Windows checks the access as given, before GENERIC_READ
        # is mapped.)
        synchronous_open_has_synchronize,
        # "FILE_SYNCHRONOUS_IO_ALERT ... FILE_SYNCHRONOUS_IO_NONALERT": the
        # two are mutually exclusive.
        one_synchronous_mode,
        # FILE_DIRECTORY_FILE: "If this flag is set, the CreateDisposition
        # parameter must be set to FILE_CREATE, FILE_OPEN, or FILE_OPEN_IF."
        directory_disposition,
    ],
    "kernel32.CreateFileA": [
        # FILE_FLAG_BACKUP_SEMANTICS: "You must set this flag to obtain a
        # handle to a directory."
        folder_opened_with_backup_semantics,
    ],
    "user32.MessageBoxA": [
        # SetForegroundWindow: "The system restricts which processes can set
        # the foreground window"; a box of a program in the background opens
        # behind the window in use unless it is MB_TOPMOST, and MB_SETFOREGROUND
        # asks for the foreground where it is allowed.
        fall_warning_in_front,
    ],
    "kernel32.LoadLibraryA": [
        # Dynamic-Link Library Security: "Wherever possible, specify a fully
        # qualified path when using the LoadLibrary, LoadLibraryEx,
        # CreateProcess, or ShellExecute functions."
        library_by_full_path,
    ],
    "kernel32.CreateProcessA": [
        # The same sentence; and CreateProcess: "If lpApplicationName is NULL,
        # the first white space-delimited token of the command line specifies
        # the module name", searched for when it has no path.
        program_by_full_path,
    ],
    "kernel32.OpenProcess": [
        # PROCESS_QUERY_LIMITED_INFORMATION: "Windows Server 2003 and Windows
        # XP: This access right is not supported." PROCESS_ALL_ACCESS: "If an
        # application compiled for Windows Server 2008 and Windows Vista is
        # run on Windows Server 2003 or Windows XP, the PROCESS_ALL_ACCESS
        # flag is too large and the function specifying this flag fails with
        # ERROR_ACCESS_DENIED."
        access_xp_knows,
    ],
    "kernel32.MoveFileExA": [
        # MOVEFILE_DELAY_UNTIL_REBOOT: "This value cannot be used with
        # MOVEFILE_COPY_ALLOWED."
        delayed_move_not_copied,
    ],
    "kernel32.GetWindowsDirectoryA": [
        # uSize: "This value should be set to MAX_PATH."
        folder_buffer_of_max_path,
    ],
    "kernel32.GetSystemDirectoryA": [
        # uSize: "This value should be set to MAX_PATH."
        folder_buffer_of_max_path,
    ],
    "kernel32.GetTempPathA": [
        # "The maximum possible return value is MAX_PATH+1 (261)": a buffer
        # under MAX_PATH cuts an ordinary temporary folder.
        folder_buffer_of_max_path,
    ],
    "advapi32.RegSetValueExA": [
        # cbData: "If the data is of type REG_SZ, REG_EXPAND_SZ, or
        # REG_MULTI_SZ, cbData must include the size of the terminating null
        # character or characters."
        string_value_has_terminator,
    ],
    "user32.TrackPopupMenu": [
        # "To display a context menu for a notification icon, the current
        # window must be the foreground window before the application calls
        # TrackPopupMenu"; and KB135788: "post a benign message to the
        # window ... WM_NULL" after it, or the menu may not close.
        tray_menu_in_foreground,
    ],
    "ole32.CoInitializeEx": [
        # KB 136885, "OLE threads must dispatch messages": COM gives each
        # single-threaded apartment a hidden window, and a program that
        # broadcasts with SendMessage waits until every such thread takes
        # its message.
        single_threaded_apartment_pumps,
    ],
    "ole32.CoUninitialize": [
        # CoUninitialize: "To close the COM library gracefully on a thread,
        # each successful call to CoInitialize or CoInitializeEx, including
        # any call that returns S_FALSE, must be balanced by a corresponding
        # call to CoUninitialize"; a failed one, RPC_E_CHANGED_MODE
        # included, must not be.
        uninitialize_balanced,
    ],
    "ole32.CoCreateInstance": [
        # CoInitializeEx: "CoInitializeEx must be called at least once, and
        # is usually called only once, for each thread that uses the COM
        # library."
        com_entered_first,
    ],
    "shell32.ShellExecuteExA": [
        # SHELLEXECUTEINFO: cbSize "Required. The size of this structure, in
        # bytes."; SEE_MASK_NOCLOSEPROCESS "Use to indicate that the hProcess
        # member receives the process handle" (the copy is waited for);
        # SEE_MASK_NOASYNC "Wait for the execute operation to complete before
        # returning"; SEE_MASK_FLAG_NO_UI "Do not display an error message box
        # if an error occurs" (the program shows its own notice); and, as for
        # CreateProcess, "specify a fully qualified path" (Dynamic-Link
        # Library Security). The verb runas and one argument, on or off.
        consent_record_as_documented,
    ],
    "user32.CreateWindowExA": [
        # ExitProcess: "If one of the terminated threads in the process holds
        # a lock and the DLL detach code in one of the loaded DLLs attempts to
        # acquire the same lock, then calling ExitProcess results in a
        # deadlock ... if you do not know the state of all threads in your
        # process, it is better to call TerminateProcess than ExitProcess."
        # The program's threads may be inside the firewall's object, WinINet
        # or the loader when it ends; its waiter has no such thread.
        program_ends_by_terminating_itself,
    ],
}
# Functions only the later firewall's paths call: the consented copy.
LATER_ONLY = {"shell32.ShellExecuteExA"}
# Rules that the scenario need not see apply, each with the reason: they
# guard against a call the program's paths do not make today.
GUARDS = {
    "single_threaded_apartment_pumps": "every thread of the program enters the multithreaded apartment",
}
# Recorded so that the rules of order can see them; no rule of their own.
MESSAGE_PUMPS = ("user32.GetMessageA", "user32.PeekMessageA", "user32.MsgWaitForMultipleObjects")
CONTEXT = (("user32.SetForegroundWindow", "user32.PostMessageA", "kernel32.ExitProcess",
            "kernel32.TerminateProcess") + MESSAGE_PUMPS)


# Wine's own list of callers left out, less kernel32: a call the program
# makes to a kernel32 function that Wine forwards to kernelbase is relayed
# as kernel32's, and only when kernel32 is no caller left out.
RELAY_FROM_EXCLUDE = "winex11.drv;winemac.drv;user32;gdi32;advapi32"


def relay_include():
    """The RelayInclude value: every function checked, under the name the
    program imports it by and the one Wine implements it under."""
    names = []
    for function in list(RULES) + list(CONTEXT):
        module, name = function.split(".")
        names.append(function)
        if module in IMPLEMENTED_IN:
            names.append(IMPLEMENTED_IN[module] + "." + name)
    return ";".join(names)


def judged(calls):
    """(rule, problem, trace line) of every call that breaks a rule, and
    the names of the rules that applied to any call."""
    found = []
    applied = set()
    for call in calls:
        for rule in RULES.get(call.function, ()):
            problem = rule(call, calls)
            if problem is not None:
                applied.add(rule.__name__)
            if problem:
                found.append((rule.__name__, problem, call.line))
    return found, applied


def rule_names():
    return {rule.__name__ for rules in RULES.values() for rule in rules}


def read_traces(paths):
    """The lines of each trace, a list a trace."""
    traces = []
    for path in paths:
        if os.path.exists(path):
            with open(path, errors="replace") as f:
                traces.append(f.readlines())
    return traces

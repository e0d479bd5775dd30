"""The rules of windows_rules.py on crafted traces, no Wine needed: for each
rule, the program's load line and one call that breaks it, which must be
reported under that rule's name and no other. A rule that can never fire
(one reading the wrong argument, say) fails its row here even where the
scenario's paths never break it."""
import unittest

import windows_rules

PROGRAMS = {"halvotren.exe": 0x20000}
LOADED = '%s:%s:trace:loaddll:build_module Loaded L"C:\\\\Program Files\\\\Halvotren\\\\Halvotren.exe" at 00400000: native'
OWN = "00401234"  # a return address inside the program's image

# Each rule's breaking call, as Wine's relay prints it.
BREAKING = {
    "synchronous_open_has_synchronize":
        "ntdll.NtCreateFile(0061f074,80000000,0061f090,0061f080,00000000,00000080,00000001,00000001,00000020,"
        "00000000,00000000)",
    "one_synchronous_mode":
        "ntdll.NtCreateFile(0061f074,80100000,0061f090,0061f080,00000000,00000080,00000001,00000001,00000030,"
        "00000000,00000000)",
    "directory_disposition":
        "ntdll.NtCreateFile(0061f074,00100001,0061f090,0061f080,00000000,00000080,00000001,00000005,00000021,"
        "00000000,00000000)",
    "folder_opened_with_backup_semantics":
        'kernelbase.CreateFileA(0061f000 "C:\\\\users\\\\me\\\\Temp\\\\~halvotren_update0",80000000,00000007,'
        "00000000,00000003,00000080,00000000)",
    "fall_warning_in_front":
        'user32.MessageBoxA(00010020,00402000 "The firewall is off.",00402100 "Firewall Warning!",00000030)',
    "library_by_full_path": 'kernelbase.LoadLibraryA(00402000 "wininet.dll")',
    "program_by_full_path":
        'kernelbase.CreateProcessA(00000000,0061f000 "notepad.exe C:\\\\log.txt",00000000,00000000,00000000,'
        "00000000,00000000,00000000,0061f100,0061f200)",
    "access_xp_knows": "kernelbase.OpenProcess(00001000,00000000,00000120)",
    "delayed_move_not_copied": 'kernelbase.MoveFileExA(0061f000 "C:\\\\old",00000000,00000006)',
    "folder_buffer_of_max_path": "kernelbase.GetWindowsDirectoryA(0061f000,00000080)",
    "string_value_has_terminator":
        'advapi32.RegSetValueExA(00000040,00402000 "Halvotren",00000000,00000001,0061f000 "",00000000)',
    "tray_menu_in_foreground":
        "user32.TrackPopupMenu(00020030,00000100,00000010,00000010,00000000,00010020,00000000)",
    "single_threaded_apartment_pumps": "combase.CoInitializeEx(00000000,00000002)",
    "com_entered_first": "combase.CoCreateInstance(00402000,00000000,00000001,00402010,0061f000)",
    "uninitialize_balanced": "combase.CoUninitialize()",
    # No record Wine's shell read: one of another size.
    "consent_record_as_documented": "shell32.ShellExecuteExA(0061f000)",
    # The window made, and the end every DLL's detach code follows.
    "program_ends_by_terminating_itself":
        ('user32.CreateWindowExA(00000000,00402000 "Halvotren",00402010 "",00cf0000,00000000,00000000,'
         "00000000,00000000,00000000,00000000,00400000,00000000)", "KERNEL32.ExitProcess(00000000)"),
}
WINDOW = BREAKING["program_ends_by_terminating_itself"][0]


def call(text, process="0020", thread="0024"):
    return "%s:%s:Call %s ret=%s" % (process, thread, text, OWN)


def returned(text, value, process="0020", thread="0024"):
    return "%s:%s:Ret  %s() retval=%s ret=%s" % (process, thread, text.split("(")[0], value, OWN)


def broken(*traces):
    return windows_rules.judged(windows_rules.own_calls(traces, PROGRAMS))


class RulesOnCraftedTraces(unittest.TestCase):
    def test_each_rule_reports_its_breaking_call(self):
        self.assertEqual(sorted(windows_rules.rule_names()), sorted(BREAKING), "rules without a crafted row")
        for rule, calls in BREAKING.items():
            with self.subTest(rule=rule):
                calls = calls if isinstance(calls, tuple) else (calls,)
                found, applied = broken([LOADED % ("0020", "0024")] + [call(c) for c in calls])
                self.assertEqual([rule], [name for name, _, _ in found])
                self.assertIn(rule, applied)

    def test_a_thread_is_known_by_its_trace_and_process(self):
        # Wine hands a thread id out again; a thread of another process, or
        # of another trace, that entered an apartment covers no other.
        enter = "combase.CoInitializeEx(00000000,00000004)"
        create = BREAKING["com_entered_first"]
        entering = [LOADED % ("0020", "0024"), call(enter), returned(enter, "00000000")]
        for name, traces in (
                ("another process", [entering + [LOADED % ("0030", "0024"), call(create, process="0030")]]),
                ("another trace", [entering, [LOADED % ("0020", "0024"), call(create)]])):
            with self.subTest(name):
                self.assertEqual(["com_entered_first"], [rule for rule, _, _ in broken(*traces)[0]])
        self.assertEqual([], broken(entering + [call(create)])[0])

    def test_the_consent_record_is_read_from_wines_trace_of_it(self):
        execute = "shell32.ShellExecuteExA(0061f000)"
        record = ('0020:0024:trace:exec:SHELL_execute mask=0x%08x hwnd=00010020 verb=L"%s" file=L"%s" '
                  'parm=L"%s" dir=(null) show=0x00000000 class=not used')
        start = [LOADED % ("0020", "0024"), call(execute)]
        good = (0x540, "runas", "C:\\\\Program Files\\\\Halvotren\\\\Halvotren.exe", "off")
        self.assertEqual(([], {"consent_record_as_documented"}),
                         broken(start + [record % good, returned(execute, "00000001")]))
        for name, fields in (("no NOCLOSEPROCESS", (0x500,) + good[1:]), ("no verb", (0x540, "open") + good[2:]),
                             ("a bare name", good[:2] + ("Halvotren.exe", "off")),
                             ("another argument", good[:3] + ("on x",))):
            with self.subTest(name):
                self.assertEqual(["consent_record_as_documented"],
                                 [rule for rule, _, _ in broken(start + [record % fields])[0]])

    def test_the_program_ends_by_terminating_itself(self):
        start = [LOADED % ("0020", "0024"), call(WINDOW)]
        self.assertEqual(([], {"program_ends_by_terminating_itself"}),
                         broken(start + [call("kernelbase.TerminateProcess(ffffffff,00000000)", thread="0028")]))
        for name, end in (("no end of its own", []),
                          ("another process ended", [call("kernelbase.TerminateProcess(00000084,00000000)")]),
                          ("ExitProcess too", [call("KERNEL32.ExitProcess(00000000)"),
                                               call("kernelbase.TerminateProcess(ffffffff,00000000)")])):
            with self.subTest(name):
                self.assertEqual(["program_ends_by_terminating_itself"],
                                 [rule for rule, _, _ in broken(start + end)[0]])
        # The waiter makes no window: its ExitProcess is its own affair.
        self.assertEqual(([], set()), broken([LOADED % ("0020", "0024"), call("KERNEL32.ExitProcess(00000000)")]))


if __name__ == "__main__":
    unittest.main()

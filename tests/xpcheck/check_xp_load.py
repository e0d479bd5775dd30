#!/usr/bin/env python3
"""Would this executable load on 32-bit Windows XP SP2?

Reports everything in the PE file that would stop the XP loader: wrong
architecture or format, an OS or subsystem version above 5.1, a section that
runs past the end of the file, an import that XP's DLLs do not export
(checked against the lists in --exports), a function looked up at run time
that XP's DLL does not export, and an embedded manifest, which the program
must not carry. It refuses what XP would run, but not as it should: a
program not marked terminal-server aware (on a terminal server in
application mode GetWindowsDirectory would give a private folder), and code
with an instruction that XP's least processor, a Pentium-class i586 such as
the Pentium MMX or the K6, lacks (CMOV, FCMOV, FCOMI, SSE, ...), found by
the cross binutils' disassembler. It also refuses what loads but cannot be the program:
a code section too small to hold it, an entry point outside the code, and an
icon group naming an image that is missing or not the one it describes.
--expect-fail and --selftest check the checker itself.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

PREFIX = "xp-load-check: "
XP_VERSION = (5, 1)
RT_ICON = 3
RT_GROUP_ICON = 14
RT_MANIFEST = 24
IMAGE_SCN_CNT_CODE = 0x20
IMAGE_SCN_CNT_INITIALIZED_DATA = 0x40
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000
OBJDUMP = "i686-w64-mingw32-objdump"
# What the P6 (Pentium Pro) and later brought, which an i586 lacks: the
# conditional moves, the compares that set the flags, fast system calls, the
# state saves, the multi-byte NOPs (0F 1F, a NOP with an operand) and every
# SSE register; MMX too, which the plain Pentium lacks. Then what SSE and
# later added without naming an xmm register: the fences, prefetches,
# non-temporal store, MXCSR loads and stores, cache-line flush and SSE3's
# truncating store, and popcnt, movbe and crc32. A disassembled line names
# the mnemonic after its bytes, and ends there when it takes no operand.
NOT_I586 = re.compile(r"\t(cmov\w*|fcmov\w*|f(?:u)?comip?|sysenter|sysexit|fxsave|fxrstor|rdpmc|nop[lw]?(?=\s+\S)"
                      r"|[slm]fence|prefetch\w*|movnti|v?(?:ld|st)mxcsr|clflush\w*|fisttp\w*|popcnt|movbe"
                      r"|crc32\w*)(?:\s|$)|%(?:x|y)mm\d|%mm\d")
# The program's own code is several KiB; a linker that dropped it (an LTO
# build without its entry point, say) leaves far less.
SMALLEST_CODE = 4096
# Functions looked up with GetProcAddress are kept one literal a library: the
# library's file name, then the function names, each ended by a NUL, then an
# empty string. Whatever precedes the literal may run into the library's name.
LOOKUP_LIST = re.compile(rb"([\w.-]+\.dll)\0((?:[A-Za-z_]\w*\0)+)\0", re.IGNORECASE)
# Looked up with their library's name as separate literals and used only when
# found, so what follows them is no list: ChangeWindowMessageFilter and
# SetProcessDPIAware, which XP
# lacks, and the frame registration the C runtime's start-up files look for
# in a shared libgcc (linked statically, there is none).
OPTIONAL_LOOKUPS = {("user32.dll", "ChangeWindowMessageFilter"), ("user32.dll", "SetProcessDPIAware"),
                    ("libgcc_s_dw2-1.dll", "__register_frame_info")}
# The update check needs these. A program naming them nowhere means the
# search for lists above has gone blind, not that XP would load it.
NEEDED_LIBRARIES = ("wininet.dll", "msi.dll")


class BadPE(Exception):
    pass


class PE:
    def __init__(self, data):
        self.data = data
        if self.u16(0) != 0x5A4D:
            raise BadPE("no MZ header: not a Windows executable")
        pe = self.u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise BadPE("no PE signature at offset 0x%x" % pe)
        self.machine = self.u16(pe + 4)
        nsections = self.u16(pe + 6)
        opt_size = self.u16(pe + 20)
        self.opt = pe + 24
        self.table = self.opt + opt_size
        self.magic = self.u16(self.opt)
        self.os_version = (self.u16(self.opt + 40), self.u16(self.opt + 42))
        self.subsys_version = (self.u16(self.opt + 48), self.u16(self.opt + 50))
        self.subsystem = self.u16(self.opt + 68)
        self.header_size = self.u32(self.opt + 60)
        self.entry = self.u32(self.opt + 16)
        self.dll_characteristics = self.u16(self.opt + 70)
        self.sections = []
        self.names = []
        self.characteristics = []
        for i in range(nsections):
            s = self.table + 40 * i
            # (rva, size in memory, size on disk, file offset)
            self.sections.append((self.u32(s + 12), self.u32(s + 8),
                                  self.u32(s + 16), self.u32(s + 20)))
            self.names.append(self.data[s:s + 8].rstrip(b"\0").decode("latin-1"))
            self.characteristics.append(self.u32(s + 36))

    def read(self, fmt, off):
        if off < 0 or off + struct.calcsize(fmt) > len(self.data):
            raise BadPE("truncated or corrupt: read past the end at 0x%x" % off)
        return struct.unpack_from(fmt, self.data, off)[0]

    def u16(self, off):
        return self.read("<H", off)

    def u32(self, off):
        return self.read("<I", off)

    def cstr(self, off):
        self.read("<B", off)  # bounds check
        end = self.data.find(b"\0", off)
        if end < 0:
            raise BadPE("unterminated name at 0x%x" % off)
        return self.data[off:end].decode("latin-1")

    def at(self, rva):
        """File offset of an RVA."""
        if rva < self.header_size:
            return rva
        for va, vsize, rawsize, raw in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                if rva - va >= rawsize:
                    raise BadPE("RVA 0x%x points into uninitialised data" % rva)
                return raw + rva - va
        raise BadPE("RVA 0x%x lies in no section" % rva)

    def directory(self, index):
        """RVA of a data directory, 0 if absent; PE32 layout only."""
        if index >= self.u32(self.opt + 92):
            return 0
        return self.u32(self.opt + 96 + 8 * index)

    def thunks(self, rva):
        """Yield ('name', str) or ('ordinal', int) for one import lookup table."""
        off = self.at(rva)
        while True:
            t = self.u32(off)
            if t == 0:
                return
            if t & 0x80000000:
                yield "ordinal", t & 0xFFFF
            else:
                yield "name", self.cstr(self.at(t) + 2)  # skip the hint
            off += 4

    def imports(self):
        """Yield (dll, [('name'|'ordinal', value)...], delayed)."""
        rva = self.directory(1)
        if rva:
            off = self.at(rva)
            while self.u32(off + 12):  # Name
                lookup = self.u32(off) or self.u32(off + 16)
                yield self.cstr(self.at(self.u32(off + 12))), list(self.thunks(lookup)), False
                off += 20
        rva = self.directory(13)
        if rva:
            base = self.u32(self.opt + 28)
            off = self.at(rva)
            while self.u32(off + 4):  # rvaDLLName
                # Old-style descriptors hold addresses rather than RVAs.
                fix = 0 if self.u32(off) & 1 else base
                name = self.cstr(self.at(self.u32(off + 4) - fix))
                yield name, list(self.thunks(self.u32(off + 16) - fix)), True
                off += 32

    def entries(self, directory):
        """(name or number, offset) of each entry of a resource directory."""
        count = self.u16(directory + 12) + self.u16(directory + 14)
        return [(self.u32(directory + 16 + 8 * i), self.u32(directory + 20 + 8 * i))
                for i in range(count)]

    def resource_types(self):
        rva = self.directory(2)
        if not rva:
            return []
        # numbered types only
        return [name for name, _ in self.entries(self.at(rva)) if not name & 0x80000000]

    def resources(self, type_id):
        """{number: data} of one numbered resource type, first language."""
        rva = self.directory(2)
        if not rva:
            return {}
        root = self.at(rva)
        found = {}
        for name, offset in self.entries(root):
            if name != type_id or not offset & 0x80000000:
                continue
            for number, inner in self.entries(root + (offset & 0x7FFFFFFF)):
                if number & 0x80000000 or not inner & 0x80000000:
                    continue
                languages = self.entries(root + (inner & 0x7FFFFFFF))
                if languages and not languages[0][1] & 0x80000000:
                    leaf = root + languages[0][1]
                    start = self.at(self.u32(leaf))
                    found[number] = self.data[start:start + self.u32(leaf + 4)]
        return found


def load_exports(directory, dll):
    try:
        with open(os.path.join(directory, dll.lower() + ".txt"), encoding="utf-8") as f:
            return {line.strip() for line in f if line.strip()}
    except OSError:
        return None


def check(data, exports_dir, console=False, helper=False):
    """Return (problems, summary). Raises BadPE on a malformed file."""
    pe = PE(data)
    problems = []
    if pe.machine != 0x14C:
        problems.append("machine is 0x%x, not i386 (0x14c)" % pe.machine)
    if pe.magic != 0x10B:
        problems.append("optional header magic is 0x%x, not PE32 (0x10b)" % pe.magic)
    allowed = (2, 3) if console else (2,)
    if pe.subsystem not in allowed:
        wanted = "Windows GUI (2) or console (3)" if console else "Windows GUI (2)"
        problems.append("subsystem is %d, not %s" % (pe.subsystem, wanted))
    for what, version in (("operating system", pe.os_version),
                          ("subsystem", pe.subsys_version)):
        if version > XP_VERSION:
            problems.append("%s version %d.%d is above XP's 5.1 (the loader refuses it)"
                            % ((what,) + version))
    if pe.magic != 0x10B:
        return problems, ""  # the rest of the header is laid out differently
    for name, (_, _, rawsize, raw) in zip(pe.names, pe.sections):
        if rawsize and raw + rawsize > len(data):
            problems.append("section %s runs to byte %d of a %d-byte file: truncated"
                            % (name, raw + rawsize, len(data)))
    code = [(rva, max(vsize, rawsize)) for (rva, vsize, rawsize, _), flags
            in zip(pe.sections, pe.characteristics) if flags & IMAGE_SCN_CNT_CODE]
    if not helper and sum(size for _, size in code) < SMALLEST_CODE:
        problems.append("only %d bytes of code: too little to be the program"
                        % sum(size for _, size in code))
    if not any(rva <= pe.entry < rva + size for rva, size in code):
        problems.append("entry point 0x%x lies outside the code" % pe.entry)
    if not helper:
        problems += icon_group_problems(pe)
    if not pe.dll_characteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE:
        problems.append("not marked terminal-server aware (link with --tsaware): on a terminal server "
                        "GetWindowsDirectory would name a private folder")
    problems += ["instruction an i586 lacks: %s" % line for line in beyond_i586(data)]
    if RT_MANIFEST in pe.resource_types():
        problems.append("resources contain a manifest (RT_MANIFEST); the program must carry none")
    functions, dlls = 0, set()
    for dll, entries, delayed in pe.imports():
        kind = "delay-loaded " if delayed else ""
        dlls.add(dll.lower())
        known = load_exports(exports_dir, dll)
        if known is None:
            problems.append("%s%s: no XP export list for it in %s" % (kind, dll, exports_dir))
            continue
        for how, value in entries:
            functions += 1
            if how == "ordinal":
                problems.append("%s%s: import by ordinal %d, which cannot be checked against XP"
                                % (kind, dll, value))
            elif value not in known:
                problems.append("%s%s: %s is not exported on XP SP2" % (kind, dll, value))
    looked_up = {}
    for dll, names in lookup_lists(pe, exports_dir):
        looked_up[dll] = looked_up.get(dll, 0) + len(names)
        known = load_exports(exports_dir, dll)
        if known is None:
            problems.append("looked up from %s: no XP export list for it in %s" % (dll, exports_dir))
            continue
        problems += ["looked up from %s: %s is not exported on XP SP2" % (dll, name)
                     for name in names if name not in known]
    problems += ["%s is neither imported nor named in a list of functions looked up" % dll
                 for dll in NEEDED_LIBRARIES if not helper and dll not in dlls and dll not in looked_up]
    return problems, "%d functions from %d DLLs; looked up: %s" % (
        functions, len(dlls), ", ".join("%s %d" % item for item in looked_up.items()) or "none")


def beyond_i586(data):
    """The disassembled lines of the code sections that an i586 cannot run,
    a few at most."""
    if shutil.which(OBJDUMP) is None:
        raise BadPE("%s is needed to read the code" % OBJDUMP)
    with tempfile.NamedTemporaryFile(suffix=".exe") as copy:
        copy.write(data)
        copy.flush()
        listing = subprocess.run([OBJDUMP, "-d", "--no-show-raw-insn", copy.name], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
    if listing.returncode != 0:
        raise BadPE("the code cannot be disassembled: " + listing.stderr.strip())
    found = [line.strip() for line in listing.stdout.splitlines() if NOT_I586.search(line)]
    return found[:5] + (["... and %d more" % (len(found) - 5)] if len(found) > 5 else [])


def lookup_lists(pe, exports_dir):
    """Yield (dll, [function...]) for each list of functions looked up at run time."""
    for name, (_, _, rawsize, raw), flags in zip(pe.names, pe.sections, pe.characteristics):
        # The import section names its DLLs too, followed by hints and
        # names that are no list of ours.
        if name == ".idata" or flags & IMAGE_SCN_CNT_CODE or not flags & IMAGE_SCN_CNT_INITIALIZED_DATA:
            continue
        for found in LOOKUP_LIST.finditer(pe.data, raw, raw + rawsize):
            run = found.group(1).decode("latin-1").lower()
            # The longest tail of the run with an export list is the name;
            # failing that the whole run, reported as having none.
            dll = next((run[i:] for i in range(len(run))
                        if load_exports(exports_dir, run[i:]) is not None), run)
            names = found.group(2).decode("latin-1").split("\0")[:-1]
            if (dll, names[0]) not in OPTIONAL_LOOKUPS:
                yield dll, names


def icon_group_problems(pe):
    """Each icon group entry must name an image resource whose header says
    the size and depth the entry does, or LoadIcon finds no icon."""
    problems = []
    images = pe.resources(RT_ICON)
    for group, data in sorted(pe.resources(RT_GROUP_ICON).items()):
        count = struct.unpack_from("<H", data, 4)[0] if len(data) >= 6 else 0
        if len(data) != 6 + 14 * count:
            problems.append("icon group %d is %d bytes for %d entries" % (group, len(data), count))
            continue
        for k in range(count):
            width, _, _, _, _, bits, length, number = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * k)
            image = images.get(number)
            if image is None or len(image) < 40:
                problems.append("icon group %d names image %d, which is missing" % (group, number))
                continue
            _, image_width, _, _, image_bits = struct.unpack_from("<IiiHH", image)
            if (image_width, image_bits, len(image)) != (width or 256, bits, length):
                problems.append("icon group %d names image %d as %d px, %d-bit, %d bytes; it is "
                                "%d px, %d-bit, %d bytes" % (group, number, width or 256, bits, length,
                                                            image_width, image_bits, len(image)))
    return problems


# Each planted instruction, and what its disassembled line shows of it.
PLANTED_INSTRUCTIONS = (
    (b"\x0f\x44\xc1", "cmove"),              # cmove %ecx,%eax
    (b"\xda\xc1", "fcmovb"),                  # fcmovb %st(1),%st
    (b"\xdf\xf1", "fcomip"),                  # fcomip %st(1),%st
    (b"\xdf\xe9", "fucomip"),
    (b"\xdb\xf1", "fcomi"),
    (b"\x0f\x34", "sysenter"),
    (b"\x0f\x35", "sysexit"),
    (b"\x0f\x33", "rdpmc"),
    (b"\x0f\xae\x00", "fxsave"),              # fxsave (%eax)
    (b"\x0f\xae\x08", "fxrstor"),
    (b"\x0f\x58\xc1", "%xmm"),               # addps %xmm1,%xmm0
    (b"\x0f\xfc\xc1", "%mm"),                # paddb %mm1,%mm0
    (b"\x0f\x1f\x00", "nopl"),               # nopl (%eax)
    (b"\x66\x0f\x1f\x44\x00\x00", "nopw"),   # nopw 0x0(%eax,%eax,1)
    (b"\x0f\xae\xf8", "sfence"),
    (b"\x0f\xae\xe8", "lfence"),
    (b"\x0f\xae\xf0", "mfence"),
    (b"\x0f\x18\x00", "prefetchnta"),        # prefetchnta (%eax)
    (b"\x0f\x0d\x08", "prefetchw"),          # 3DNow!'s
    (b"\x0f\xc3\x01", "movnti"),             # movnti %eax,(%ecx)
    (b"\x0f\xae\x10", "ldmxcsr"),            # ldmxcsr (%eax)
    (b"\x0f\xae\x18", "stmxcsr"),
    (b"\x0f\xae\x38", "clflush"),            # clflush (%eax)
    (b"\xdb\x08", "fisttp"),                  # fisttpl (%eax)
    (b"\xf3\x0f\xb8\xc1", "popcnt"),         # popcnt %ecx,%eax
    (b"\x0f\x38\xf0\x01", "movbe"),          # movbe (%ecx),%eax
    (b"\xf2\x0f\x38\xf0\xc1", "crc32"),      # crc32b %cl,%eax
)


def selftest(path, exports_dir):
    with open(path, "rb") as f:
        good = f.read()
    problems, _ = check(good, exports_dir)  # a malformed original raises BadPE
    if problems:
        return ["the original must pass first: " + p for p in problems], 0
    pe = PE(good)

    def patched(off, fmt, value):
        data = bytearray(good)
        struct.pack_into(fmt, data, off, value)
        return bytes(data)

    # Each major version is patched to 6 with its minor 0 in one 32-bit write.
    cases = [("OS version 6.0", patched(pe.opt + 40, "<I", 6), "operating system version 6.0"),
             ("subsystem version 6.0", patched(pe.opt + 48, "<I", 6), "subsystem version 6.0"),
             ("console subsystem", patched(pe.opt + 68, "<H", 3), "subsystem is 3"),
             ("PE32+ magic", patched(pe.opt, "<H", 0x20B), "not PE32")]
    rva = pe.directory(2)
    if rva:  # relabel the first numbered resource type as a manifest
        root = pe.at(rva)
        first = root + 16 + 8 * pe.u16(root + 12)
        cases.append(("manifest", patched(first, "<I", RT_MANIFEST), "manifest"))
    code = [i for i, flags in enumerate(pe.characteristics) if flags & IMAGE_SCN_CNT_CODE][0]
    data_section = [i for i, flags in enumerate(pe.characteristics) if not flags & IMAGE_SCN_CNT_CODE][0]
    cases.append(("entry point in data", patched(pe.opt + 16, "<I", pe.sections[data_section][0]),
                  "outside the code"))
    cases.append(("terminal-server flag cleared", patched(pe.opt + 70, "<H", pe.dll_characteristics & ~0x8000),
                  "terminal-server aware"))
    # One instruction of each kind the pattern names, alone at the entry point.
    at = pe.at(pe.entry)
    for code_bytes, shown in PLANTED_INSTRUCTIONS:
        cases.append((shown + " in the code", good[:at] + code_bytes + good[at + len(code_bytes):], shown))
    small = bytearray(good)
    struct.pack_into("<I", small, pe.table + 40 * code + 8, 512)   # size in memory
    struct.pack_into("<I", small, pe.table + 40 * code + 16, 512)  # size on disk
    cases.append(("code section of 512 bytes", bytes(small), "too little"))
    groups = pe.resources(RT_GROUP_ICON)
    if groups:  # point the last group's first entry at an image that is not there
        at = good.find(groups[max(groups)])
        cases.append(("icon group naming a missing image", patched(at + 6 + 12, "<H", 999), "missing"))
    # A name XP SP2's msi.dll lacks (Windows Installer 4.5), and a list whose
    # library is no longer recognisable as one.
    cases += [("MsiEndTransaction looked up", good.replace(b"\0MsiVerifyPackageA\0",
                                                           b"\0MsiEndTransaction\0"), "MsiEndTransaction"),
              ("wininet.dll unnamed", good.replace(b"wininet.dll\0", b"wininet.dl_\0"),
               "wininet.dll is neither")]
    # Cut inside the last section, and to a third: either is an error or a
    # section reported as running past the end.
    cases += [("truncated by 512 bytes", good[:-512], "truncated"),
              ("truncated to a third", good[:len(good) // 3], "truncated")]
    failures = []
    for name, data, expected in cases:
        try:
            problems, _ = check(data, exports_dir)
        except BadPE as malformed:
            problems = ["truncated or malformed: %s" % malformed]
        if not any(expected in p for p in problems):
            failures.append("%s was not rejected (got: %s)" % (name, problems or "no problems"))
    return failures, len(cases)


def main():
    ap = argparse.ArgumentParser(description="Check that a PE file would load on Windows XP SP2.")
    ap.add_argument("exe")
    ap.add_argument("--exports", required=True, help="folder of <dll>.txt export lists")
    ap.add_argument("--console", action="store_true", help="also accept the console subsystem")
    ap.add_argument("--helper", action="store_true",
                    help="a small program of the package's, not Halvotren.exe: no icons, no update libraries")
    mode = ap.add_mutually_exclusive_group()
    mode.add_argument("--expect-fail", metavar="NAME",
                      help="succeed only if the check fails and a problem names NAME")
    mode.add_argument("--selftest", action="store_true",
                      help="assert that patched copies of EXE are rejected")
    args = ap.parse_args()
    if not os.path.isdir(args.exports):
        print(PREFIX + "error: export lists folder %s does not exist" % args.exports)
        return 1
    try:
        if args.selftest:
            failures, count = selftest(args.exe, args.exports)
            for f in failures:
                print(PREFIX + "selftest FAILED: " + f)
            print(PREFIX + "selftest: %s (%d cases)" % ("FAILED" if failures else "OK", count))
            return 1 if failures else 0
        with open(args.exe, "rb") as f:
            problems, summary = check(f.read(), args.exports, args.console, args.helper)
    except (OSError, BadPE) as e:
        print(PREFIX + "error: %s: %s" % (args.exe, e))
        return 1
    for p in problems:
        print(PREFIX + p)
    if args.expect_fail is not None:
        if any(args.expect_fail in p for p in problems):
            print(PREFIX + "rejected as expected (%s named)" % args.expect_fail)
            return 0
        print(PREFIX + "expected a problem naming %s; none did" % args.expect_fail)
        return 1
    if problems:
        print(PREFIX + "FAILED: %d problem(s) in %s" % (len(problems), args.exe))
        return 1
    print(PREFIX + "OK: " + summary)
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Releases anyone can rebuild bit for bit: one commit built in another
folder with the clock 40 days on gives the same program and package, and
verify-release.sh passes a release made by the release command and fails a
changed copy, naming the part that changed. No Wine: these build."""
import contextlib
import hashlib
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import signing
from test_update import update_signature
from timestamp_server import TimestampServer

SOURCE = os.environ.get("HALVOTREN_SOURCE", "")
BUILD = os.environ.get("HALVOTREN_BUILD", "")
EXE = os.environ.get("HALVOTREN_EXE", "")
PACKAGE = os.environ.get("HALVOTREN_PACKAGE", "")
VERSION = os.environ.get("HALVOTREN_VERSION", "")
sys.path.insert(0, os.path.join(SOURCE, "scripts"))
import compare_release  # noqa: E402
import msi_streams  # noqa: E402

LATER = "+40d"
FALLBACK_EPOCH = 1704067200
BASE_URL = "http://www.halvotren.example/downloads"
PARTS = ("the program", "the package", "halvotren.ver", "the update signature")


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def pe_field(path, offset):
    """A 32-bit field of the PE header, at offset from its signature."""
    with open(path, "rb") as f:
        data = f.read()
    return struct.unpack_from("<I", data, struct.unpack_from("<I", data, 0x3C)[0] + offset)[0]


def commit_time():
    if "SOURCE_DATE_EPOCH" in os.environ:
        return int(os.environ["SOURCE_DATE_EPOCH"])
    if not os.path.exists(os.path.join(SOURCE, ".git")):
        return FALLBACK_EPOCH
    return int(subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"], stdout=subprocess.PIPE,
                              check=True, text=True).stdout)


def build_later(folder, version, key):
    """The package built in folder as the release command builds it, with
    the clock moved 40 days on; the seconds it took."""
    started = time.monotonic()
    built = subprocess.run(["faketime", "-f", LATER, "bash", "-c", 'source "$0"; halvotren_build_release "$@"',
                            os.path.join(SOURCE, "scripts", "build.sh"), folder, version, key],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert built.returncode == 0, built.stdout
    return time.monotonic() - started


class Comparisons(unittest.TestCase):
    def test_the_clock_moves_under_faketime(self):
        moved = subprocess.run(["faketime", "-f", LATER, "date", "+%s"], stdout=subprocess.PIPE, text=True).stdout
        self.assertGreater(int(moved), time.time() + 39 * 86400)

    def test_a_program_differing_only_in_its_checksum_is_said_so(self):
        with open(EXE, "rb") as f:
            program = bytearray(f.read())
        field = compare_release.checksum_field(program)
        self.assertEqual(pe_field(EXE, 24 + 64), struct.unpack_from("<I", program, field)[0])
        with tempfile.TemporaryDirectory() as work:
            changed = os.path.join(work, "changed.exe")
            for code_byte in (False, True):
                program[field] ^= 1
                if code_byte:
                    program[0x400] ^= 1
                with open(changed, "wb") as f:
                    f.write(program)
                found = subprocess.run([sys.executable, os.path.join(SOURCE, "scripts", "compare_release.py"),
                                        "program", changed, EXE], stdout=subprocess.PIPE, text=True)
                self.assertEqual(int(code_byte), found.returncode, found.stdout)
                self.assertIn("byte offset 1024 " if code_byte else "header checksum", found.stdout)

    def test_the_update_key_is_found_only_in_a_program_built_with_it(self):
        with tempfile.TemporaryDirectory() as work:
            public = os.path.join(work, "public.pem")
            subprocess.run(["openssl", "pkey", "-in", os.environ["HALVOTREN_TEST_UPDATE_KEY"], "-pubout", "-out",
                            public], check=True)
            for program, held in ((os.environ["HALVOTREN_KEYED_EXE"], True), (EXE, False)):
                with contextlib.redirect_stdout(io.StringIO()):
                    self.assertEqual(held, compare_release.key(program, public) == 0, program)


class SameBytes(unittest.TestCase):
    def test_without_a_key_a_build_elsewhere_40_days_later_is_the_same(self):
        # The test command's own build, from this commit, is the first.
        self.assertTrue(SOURCE and BUILD and EXE and PACKAGE, "run the tests through scripts/test.sh")
        self.assertEqual(commit_time(), pe_field(EXE, 8), "the program is stamped with the commit's time")
        with tempfile.TemporaryDirectory() as later:
            seconds = build_later(later, VERSION, os.environ.get("HALVOTREN_UPDATE_KEY", ""))
            print("\nbuilt elsewhere, the clock %s days on, in %.1f s" % (LATER[1:-1], seconds))
            for first in (EXE, PACKAGE):
                again = os.path.join(later, os.path.basename(first))
                print("%s  %s\n%s  %s" % (sha256(first), first, sha256(again), again))
                self.assertEqual(sha256(first), sha256(again), os.path.basename(first))


class VerifyRelease(unittest.TestCase):
    """One release, checked as made and changed a byte at a time; every
    check builds again in the same folder, which is built once."""

    @classmethod
    def setUpClass(cls):
        cls.pki = signing.Pki()
        cls.addClassCleanup(cls.pki.remove)
        timestamps = TimestampServer(*cls.pki.tsa)
        started = time.monotonic()
        try:
            made = subprocess.run(["bash", os.path.join(SOURCE, "scripts", "release.sh"), "--base-url", BASE_URL,
                                   "--version", "1.1", "--out", cls.pki.path("site"),
                                   "--build-dir", cls.pki.path("release"), "--update-key", cls.pki.update_key,
                                   "--cert", cls.pki.chain, "--key", cls.pki.key, "--ca", cls.pki.root,
                                   "--timestamp", timestamps.url],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        finally:
            timestamps.stop()
        assert made.returncode == 0, made.stdout
        cls.downloads = cls.pki.path("site/downloads")
        cls.rebuild = cls.pki.path("rebuild")
        released = time.monotonic()
        cls.passed = cls.verify(cls.downloads)
        print("\nrelease %.1f s, its first check (the rebuild) %.1f s" % (released - started,
                                                                        time.monotonic() - released))

    @classmethod
    def verify(cls, downloads):
        started = time.monotonic()
        checked = subprocess.run(["bash", os.path.join(SOURCE, "scripts", "verify-release.sh"),
                                  "--build-dir", cls.rebuild, downloads],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        print("\n$ verify-release.sh %s  (%.1f s)\n%s" % (os.path.basename(os.path.dirname(downloads)),
                                                          time.monotonic() - started, checked.stdout))
        return checked

    def package(self, downloads):
        return os.path.join(downloads, "Halvotren-1.1.msi")

    def changed(self, name, change):
        """verify-release.sh's verdict on a copy of the release that change
        changed; the copy is a folder named name."""
        copy = self.pki.path(name + "/downloads")
        shutil.copytree(self.downloads, copy)
        change(copy)
        return self.verify(copy)

    def signed_again(self, downloads):
        """As its publisher would: the update key signs what is published."""
        with open(self.package(downloads), "rb") as f:
            signature = update_signature(self.pki.update_key, "1.1", f.read())
        with open(self.package(downloads) + ".sig", "wb") as f:
            f.write(signature)

    def assert_only_differs(self, checked, part, *words):
        verdicts = dict(line.split(": ", 1) for line in checked.stdout.splitlines() if line.startswith(PARTS))
        self.assertEqual(sorted(PARTS), sorted(verdicts), checked.stdout)
        for name, verdict in verdicts.items():
            self.assertTrue(verdict.startswith("DIFFERS" if name == part else "ok"), checked.stdout)
        for word in words:
            self.assertIn(word, verdicts[part])
        self.assertEqual(1, checked.returncode)

    def test_the_release_is_what_this_checkout_builds(self):
        self.assertEqual(0, self.passed.returncode, self.passed.stdout)
        self.assertNotIn("warning", self.passed.stdout)
        lines = self.passed.stdout.splitlines()
        self.assertRegex(self.passed.stdout, r"(?m)^the program: ok \(its signature removed, \d+ bytes\)$")
        for part in PARTS[1:]:
            self.assertTrue(any(line.startswith(part + ": ok") for line in lines), self.passed.stdout)

    def test_with_the_test_key_a_build_elsewhere_40_days_later_is_the_same(self):
        with tempfile.TemporaryDirectory() as later:
            seconds = build_later(later, "1.1", self.pki.update_key)
            print("\nbuilt elsewhere with the test key, the clock %s days on, in %.1f s" % (LATER[1:-1], seconds))
            for name in ("Halvotren.exe", "Halvotren-1.1.msi"):
                first, again = os.path.join(self.rebuild, name), os.path.join(later, name)
                print("%s  %s\n%s  %s" % (sha256(first), first, sha256(again), again))
                self.assertEqual(sha256(first), sha256(again), name)

    def test_a_byte_of_the_programs_code_changed_inside_the_package(self):
        def change(downloads):
            unpacked = self.pki.path("unpacked")
            subprocess.run(["msiextract", "-C", unpacked, self.package(downloads)], stdout=subprocess.DEVNULL,
                           check=True)
            [program] = [os.path.join(top, name) for top, _, names in os.walk(unpacked) for name in names]
            with open(program, "r+b") as f:
                f.seek(self.code_byte)
                byte = f.read(1)[0]
                f.seek(self.code_byte)
                f.write(bytes([byte ^ 0x40]))
            # The build's own packaging, around the changed program.
            subprocess.run([sys.executable, os.path.join(SOURCE, "scripts", "package.py"), "--epoch",
                            str(commit_time()), "--files-from", os.path.dirname(program),
                            os.path.join(self.rebuild, "halvotren.wxs"), self.package(downloads)], check=True)
            self.signed_again(downloads)
        # Inside .text: its raw data starts at the first section's file offset.
        self.code_byte = pe_field(os.path.join(self.rebuild, "Halvotren.exe"), 24 + 224 + 20) + 0x100
        self.assert_only_differs(self.changed("program", change), "the program",
                                 "byte offset %d (0x%X)" % (self.code_byte, self.code_byte))

    def test_a_byte_of_a_table_changed(self):
        def change(downloads):
            # The custom action's type, the first column after its name.
            [(at, _)] = msi_streams.extent(self.package(downloads), "!CustomAction")
            with open(self.package(downloads), "r+b") as f:
                f.seek(at + 4)
                byte = f.read(1)[0]
                f.seek(at + 4)
                f.write(bytes([byte ^ 1]))
            self.signed_again(downloads)
        self.assert_only_differs(self.changed("table", change), "the package", "stream !CustomAction",
                                 "byte offset 4")

    def test_a_byte_of_the_version_files_url_changed(self):
        def change(downloads):
            with open(os.path.join(downloads, "halvotren.ver"), "r+b") as f:
                text = f.read()
                f.seek(text.index(b"example"))
                f.write(b"E")
        self.assert_only_differs(self.changed("url", change), "halvotren.ver", "www.halvotren.Example")

    def test_an_update_signature_another_key_made(self):
        def change(downloads):
            other = self.pki.path("other.pem")
            subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", other], check=True)
            with open(self.package(downloads), "rb") as f:
                signature = update_signature(other, "1.1", f.read())
            with open(self.package(downloads) + ".sig", "wb") as f:
                f.write(signature)
        self.assert_only_differs(self.changed("signature", change), "the update signature", "does not verify")

    def test_a_buildinfo_naming_another_wixl_gives_a_warning(self):
        def change(downloads):
            info = os.path.join(downloads, "Halvotren-1.1.buildinfo")
            with open(info) as f:
                lines = [" wixl 0.100-1" if line.startswith(" wixl ") else line for line in f.read().splitlines()]
            with open(info, "w") as f:
                f.write("\n".join(lines) + "\n")
        checked = self.changed("wixl", change)
        self.assertEqual(0, checked.returncode, checked.stdout)
        first = checked.stdout.splitlines()[1]
        self.assertIn("warning: the release was built with wixl 0.100-1, this machine has 0.101", first)


if __name__ == "__main__":
    unittest.main()

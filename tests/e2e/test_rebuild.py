"""Releases anyone can rebuild bit for bit: one commit built in another
folder with the clock 40 days on gives the same program and package, and
verify-release.sh passes a release made by the release command and fails a
changed copy, naming the part that changed, crafted copies among them. No
Wine: these build."""
import contextlib
import hashlib
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import uuid

import compound_file
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
PARTS = ("the program", "the package", "halvotren.ver", "the update signature", "the update key")
PUBLISHER = "signer /CN=Halvotren Test Publisher/O=Halvotren developers, issuer /CN=Halvotren Test Intermediate"


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
    the clock moved 40 days on; the seconds it took. The build's own shell
    says what time it is, so that a clock that did not move fails here
    rather than passing a comparison that proves nothing."""
    started = time.monotonic()
    built = subprocess.run(["faketime", "-f", LATER, "bash", "-c",
                            'date +%s; source "$0"; halvotren_build_release "$@"',
                            os.path.join(SOURCE, "scripts", "build.sh"), folder, version, key],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert built.returncode == 0, built.stdout
    clock = int(built.stdout.split("\n", 1)[0])
    assert clock > time.time() + 39 * 86400, "the build's clock was not moved on: %d" % clock
    program = os.path.join(folder, "Halvotren.exe")
    assert pe_field(program, 8) == commit_time(), "the program built 40 days on is stamped %d, not with the " \
        "commit's time %d" % (pe_field(program, 8), commit_time())
    return time.monotonic() - started


def package_codes(package):
    """(product code, package code)."""
    summary = subprocess.run(["msiinfo", "suminfo", package], stdout=subprocess.PIPE, text=True, check=True).stdout
    properties = subprocess.run(["msiinfo", "export", package, "Property"], stdout=subprocess.PIPE, text=True,
                                check=True).stdout
    return ([row.split("\t")[1] for row in properties.splitlines() if row.startswith("ProductCode\t")][0],
            [line.split(": ")[1] for line in summary.splitlines() if line.startswith("Revision number")][0])


def second_spelling(raw):
    """Another spelling of a stored name that decodes to the same name: its
    first pair of characters written as two single ones."""
    at = [at for at, character in enumerate(raw) if 0x3800 <= ord(character) < 0x4800][0]
    code = ord(raw[at]) - 0x3800
    return raw[:at] + chr(0x4800 + (code & 0x3F)) + chr(0x4800 + (code >> 6)) + raw[at + 1:]


def craft(package, name, data):
    """Rewrites package as an attacker would: the stream name holds
    data under its own spelling, where Windows Installer's lookup finds it,
    and its honest bytes are added under a second spelling, at the top of
    the directory's tree, which a reader that keeps the last entry of each
    name takes."""
    read = msi_streams.read(package)
    children = []
    for path, entry in read.entries.items():
        children.append((path[0], data if entry.shown == name else entry.data))
        if entry.shown == name:
            children.append((second_spelling(path[0]), entry.data))
            honest = second_spelling(path[0])
    with open(package, "wb") as f:
        f.write(compound_file.write(children, uuid.UUID(read.clsid).bytes_le, honest))


class Comparisons(unittest.TestCase):
    def test_a_change_to_what_package_py_writes_changes_the_package_code(self):
        with open(os.path.join(BUILD, "generated", "source-date-epoch")) as f:
            epoch = f.read().strip()
        with tempfile.TemporaryDirectory() as work:
            scripts = os.path.join(work, "scripts")
            shutil.copytree(os.path.join(SOURCE, "scripts"), scripts)
            with open(os.path.join(scripts, "package.py")) as f:
                text = f.read()
            # The closing action waited for and checked, type 2, not 66.
            changed = text.replace('"ignore": 64', '"ignore": 0')
            self.assertNotEqual(text, changed, "package.py no longer names the return types")
            with open(os.path.join(scripts, "package.py"), "w") as f:
                f.write(changed)
            codes = []
            for folder in (os.path.join(SOURCE, "scripts"), scripts):
                made = os.path.join(work, "%d.msi" % len(codes))
                subprocess.run([sys.executable, os.path.join(folder, "package.py"), "--epoch", epoch,
                                os.path.join(BUILD, "halvotren.wxs"), made], check=True)
                codes.append(package_codes(made))
                actions = subprocess.run(["msiinfo", "export", made, "CustomAction"], stdout=subprocess.PIPE,
                                         text=True, check=True).stdout
                self.assertIn("CloseHalvotren\t%d\t" % (66 if folder != scripts else 2), actions)
            self.assertNotEqual(codes[0][1], codes[1][1], "two packages with one package code")
            self.assertEqual(codes[0][0], codes[1][0], "the product code follows the inputs alone")
            self.assertEqual(package_codes(PACKAGE), codes[0], "package.py made another package than the build's")

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
    def verify(cls, downloads, *options):
        started = time.monotonic()
        checked = subprocess.run(["bash", os.path.join(SOURCE, "scripts", "verify-release.sh"),
                                  "--build-dir", cls.rebuild, *options, downloads],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        print("\n$ verify-release.sh %s %s (%.1f s)\n%s" % (" ".join(options),
                                                            os.path.basename(os.path.dirname(downloads)),
                                                            time.monotonic() - started, checked.stdout))
        return checked

    def package(self, downloads):
        return os.path.join(downloads, "Halvotren-1.1.msi")

    def changed(self, name, change, *options):
        """verify-release.sh's verdict on a copy of the release that change
        changed; the copy is a folder named name."""
        copy = self.pki.path(name + "/downloads")
        shutil.copytree(self.downloads, copy)
        change(copy)
        return self.verify(copy, *options)

    def fingerprint(self, key):
        der = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], stdout=subprocess.PIPE,
                             check=True).stdout
        return hashlib.sha256(der).hexdigest()

    def signed_again(self, downloads):
        """As its publisher would: the update key signs what is published."""
        with open(self.package(downloads), "rb") as f:
            signature = update_signature(self.pki.update_key, "1.1", f.read())
        with open(self.package(downloads) + ".sig", "wb") as f:
            f.write(signature)

    def assert_only_differs(self, checked, part, *words, also=()):
        """Only part differs (and the parts also names), each saying words."""
        verdicts = dict(line.split(": ", 1) for line in checked.stdout.splitlines() if line.startswith(PARTS))
        self.assertEqual(sorted(PARTS), sorted(verdicts), checked.stdout)
        for name, verdict in verdicts.items():
            expected = "DIFFERS" if name in (part,) + also else "ok"
            self.assertTrue(verdict.startswith(expected), "%s is not %s:\n%s" % (name, expected, checked.stdout))
        for word in words:
            self.assertIn(word, " ".join(verdicts[name] for name in (part,) + also))
        self.assertEqual(1, checked.returncode)

    def test_the_release_is_what_this_checkout_builds(self):
        self.assertEqual(0, self.passed.returncode, self.passed.stdout)
        self.assertNotIn("warning", self.passed.stdout)
        lines = self.passed.stdout.splitlines()
        self.assertRegex(self.passed.stdout, r"(?m)^the program: ok \(its signature removed, \d+ bytes\)$")
        for part in PARTS[1:]:
            self.assertTrue(any(line.startswith(part + ": ok") for line in lines), self.passed.stdout)
        self.assertIn("the update key: ok (SHA-256 fingerprint %s; not compared" % self.fingerprint(
            self.pki.update_key), self.passed.stdout)
        for part in ("program", "package"):
            self.assertRegex(self.passed.stdout, r"(?m)^  the %s: SHA-1, %s, timestamp 20\d\d-\d\d-\d\d "
                             r"\d\d:\d\d:\d\d UTC; SHA-256, the same signer, timestamp 20" % (part, PUBLISHER))
        self.assertRegex(self.passed.stdout, r"(?m)^the update key: .*\n  updates come from: %s \(the buildinfo's "
                         % re.escape(BASE_URL), "the base URL is not shown under the update key")

    def test_a_key_other_than_the_one_expected(self):
        other = self.pki.path("expected.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "ed25519", "-out", other], check=True)
        checked = self.verify(self.downloads, "--expect-key", ":".join(self.fingerprint(other)[n:n + 2].upper()
                                                                       for n in range(0, 64, 2)))
        self.assert_only_differs(checked, "the update key", "while --expect-key names " + self.fingerprint(other))
        public = self.pki.path("expected.pub.pem")
        subprocess.run(["openssl", "pkey", "-in", self.pki.update_key, "-pubout", "-out", public], check=True)
        checked = self.verify(self.downloads, "--expect-key", public)
        self.assertEqual(0, checked.returncode, checked.stdout)
        self.assertIn("the update key: ok (SHA-256 fingerprint %s, the key --expect-key names)"
                      % self.fingerprint(self.pki.update_key), checked.stdout)

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
        # Packaged again, the package has lost its Authenticode signature.
        self.assert_only_differs(self.changed("program", change), "the program",
                                 "byte offset %d (0x%X)" % (self.code_byte, self.code_byte),
                                 "it holds no Authenticode signature, though the buildinfo says the release is signed",
                                 also=("the package",))

    def test_a_byte_of_a_table_changed(self):
        def change(downloads):
            # The custom action's type, the first column after its name.
            table = bytearray(msi_streams.streams(self.package(downloads))["!CustomAction"])
            table[4] ^= 1
            msi_streams.overwrite(self.package(downloads), "!CustomAction", bytes(table))
            self.signed_again(downloads)
        self.assert_only_differs(self.changed("table", change), "the package", "stream !CustomAction",
                                 "byte offset 4")

    def test_a_custom_action_run_as_localsystem_beside_its_honest_table(self):
        def change(downloads):
            altered = self.pki.path("altered.msi")
            shutil.copyfile(self.package(downloads), altered)
            # Deferred, without impersonation: run as LocalSystem.
            subprocess.run(["msibuild", altered, "-q", "UPDATE `CustomAction` SET `Type` = 3074 "
                            "WHERE `Action` = 'CloseHalvotren'"], check=True)
            craft(self.package(downloads), "!CustomAction", msi_streams.streams(altered)["!CustomAction"])
            actions = subprocess.run(["msiinfo", "export", self.package(downloads), "CustomAction"],
                                     stdout=subprocess.PIPE, text=True, check=True).stdout
            self.assertIn("CloseHalvotren\t3074\t", actions, "Windows Installer's reading is not the altered one")
            self.signed_again(downloads)
        self.assert_only_differs(self.changed("localsystem", change), "the package",
                                 "refused: two entries of the root storage decode to one name, !CustomAction")

    def test_a_closing_program_replaced_beside_its_honest_copy(self):
        def change(downloads):
            other = os.urandom(len(msi_streams.streams(self.package(downloads))["Binary.CloseHalvotren"]))
            craft(self.package(downloads), "Binary.CloseHalvotren", other)
            read = subprocess.run(["msiinfo", "extract", self.package(downloads), "Binary.CloseHalvotren"],
                                  stdout=subprocess.PIPE, check=True).stdout
            self.assertEqual(other, read, "Windows Installer's reading is not the replaced one")
            self.signed_again(downloads)
        self.assert_only_differs(self.changed("closer", change), "the package",
                                 "refused: two entries of the root storage decode to one name, Binary.CloseHalvotren")

    def test_a_buildinfo_saying_the_release_is_unsigned(self):
        def change(downloads):
            info = os.path.join(downloads, "Halvotren-1.1.buildinfo")
            with open(info) as f:
                text = f.read()
            with open(info, "w") as f:
                f.write(text.replace("\nAuthenticode: signed\n", "\nAuthenticode: none\n"))
        self.assert_only_differs(self.changed("unsigned", change), "the program",
                                 "it carries an Authenticode signature, though the buildinfo says the release is "
                                 "unsigned", "it holds \\005DigitalSignature, a signature's stream, though the "
                                 "buildinfo says the release is unsigned", also=("the package",))

    def test_a_buildinfo_without_its_authenticode_field(self):
        for name, field in (("no-field", ""), ("empty-field", "Authenticode:\n")):
            with self.subTest(field=field):
                checked = self.changed(name, lambda downloads: self.buildinfo_changed(
                    downloads, "Authenticode: signed\n", field))
                self.assertEqual(2, checked.returncode, checked.stdout)
                self.assertIn("Halvotren-1.1.buildinfo has no Authenticode field, or an empty one: it must say "
                              "signed or none", checked.stdout)

    def test_an_empty_storage_in_the_signatures_place(self):
        def change(downloads):
            read = msi_streams.read(self.package(downloads))
            children = [(path[0], [] if path == compare_release.SIGNATURE else entry.data)
                        for path, entry in read.entries.items()]
            with open(self.package(downloads), "wb") as f:
                f.write(compound_file.write(children, uuid.UUID(read.clsid).bytes_le))
            self.signed_again(downloads)
        checked = self.changed("storage", change)
        self.assert_only_differs(checked, "the package",
                                 "refused: \\005DigitalSignature is a storage, where Authenticode writes a stream")
        self.assertIn("  the package: a signature that cannot be read (\\005DigitalSignature is a storage, not a "
                      "stream)", checked.stdout)

    def buildinfo_changed(self, downloads, line, new):
        info = os.path.join(downloads, "Halvotren-1.1.buildinfo")
        with open(info) as f:
            text = f.read()
        self.assertIn("\n" + line, text)
        with open(info, "w") as f:
            f.write(text.replace("\n" + line, "\n" + new))

    def test_a_base_url_empty_or_not_printable_ascii(self):
        # Each with the halvotren.ver that base URL lays out.
        garbled = "holds a control character or one that is not printable ASCII"
        cases = (("empty", "", "the buildinfo's base URL is empty"),
                 ("control", BASE_URL + "\x1b[2K\rhttp://elsewhere", garbled),
                 ("latin", BASE_URL.replace("example", "ex\u00e4mple"), garbled),
                 ("delete", BASE_URL + "\x7f", garbled))
        for name, base_url, words in cases:
            with self.subTest(base_url=base_url):
                def change(downloads):
                    self.buildinfo_changed(downloads, "Base-URL: %s\n" % BASE_URL, "Base-URL: %s\n" % base_url)
                    with open(os.path.join(downloads, "halvotren.ver"), "w", newline="") as f:
                        f.write("1.1:%s/Halvotren-1.1.msi" % base_url)
                checked = self.changed("base-url-" + name, change)
                self.assertEqual(1, checked.returncode, checked.stdout)
                self.assertIn(words, checked.stdout)
                self.assertIn("the release is NOT what this checkout builds", checked.stdout)

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

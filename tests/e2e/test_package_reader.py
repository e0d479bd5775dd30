"""The package reader and comparison under verify-release: files made with
a small compound-file writer, each a rebuilt package changed one way, and
what the comparison says of each. No build, no Wine."""
import os
import sys
import tempfile
import unittest
import uuid

import compound_file as cf

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import compare_release  # noqa: E402
import msi_streams  # noqa: E402

# Names as a package built here stores them.
SUMMARY = "\x05SummaryInformation"
SIGNATURE = "\x05DigitalSignature"
CUSTOM_ACTION = "\u4840\u460c\u45f6\u4432\u418a\u4337\u4472"
PROPERTY = "\u4840\u4559\u44f2\u4568\u4737"
CLOSER = "\u430b\u4131\u4735\u3b3e\u44af\u4236\u4111\u466f\u45f2\u4235\u4831"
# "!CustomAction" again, its first pair ("Cu") written as two single
# characters: it decodes to the same name.
CUSTOM_ACTION_AGAIN = "\u4840\u480c\u4838" + CUSTOM_ACTION[2:]
EXTRA = msi_streams.encode_name("Binary.Extra")
STORAGE = msi_streams.encode_name("Nested")
OTHER_CLSID = uuid.UUID("000C1086-0000-0000-C000-000000000046").bytes_le
METADATA_DIGEST = "\x05MsiDigitalSignatureEx"


def der(tag, *parts):
    body = b"".join(parts)
    return bytes([tag]) + (bytes([len(body)]) if len(body) < 128 else b"\x81" + bytes([len(body)])) + body


# The least that reads as Authenticode's SignedData: its indirect data, one
# SHA-1 signer, no certificate.
SHA1 = der(0x30, der(6, bytes.fromhex("2b0e03021a")))
SIGNED = der(0x30, der(6, bytes.fromhex("2a864886f70d010702")), der(0xA0, der(
    0x30, der(2, b"\1"), der(0x31, SHA1), der(0x30, der(6, bytes.fromhex("2b060104018237020104"))),
    der(0x31, der(0x30, der(2, b"\1"), der(0x30, der(0x30), der(2, b"\1")), SHA1, der(4, b"value"))))))

REBUILT = [(SUMMARY, bytes(range(256)) * 2), (CUSTOM_ACTION, b"!\x003\x00B\x80\xd2\x80!\x00^\x00" * 2),
           (PROPERTY, b"properties" * 3), (CLOSER, b"MZ" + bytes(5000))]


def changed(entries, name, data):
    return [(n, data if n == name else d) for n, d in entries]


def renamed(entries, name, new):
    return [(new if n == name else n, d) for n, d in entries]


def top(data):
    """The index of the entry at the top of the root's tree."""
    return int.from_bytes(data[(int.from_bytes(data[0x30:0x34], "little") + 1) * 512 + 76:][:4], "little")


def swapped(data):
    """The top entry's two subtrees swapped: a tree out of order."""
    at = top(data)
    offset = (int.from_bytes(data[0x30:0x34], "little") + 1) * 512 + at * 128
    left, right = data[offset + 68:offset + 72], data[offset + 72:offset + 76]
    return cf.patch(cf.patch(data, at, cf.LEFT, int.from_bytes(right, "little")), at, cf.RIGHT,
                    int.from_bytes(left, "little"))


# What the buildinfo says of the release, the published file as the row
# makes it (the rebuilt one is REBUILT), and the words the comparison
# gives, or None when it passes the file.
ROWS = [
    ("the same entries in another layout", "none", lambda: cf.write(REBUILT[::-1]), None),
    ("a signature in a signed release is left aside", "signed",
     lambda: cf.write(REBUILT + [(SIGNATURE, SIGNED), (METADATA_DIGEST, bytes(20))]), None),
    ("an empty storage in the signature's place", "signed", lambda: cf.write(REBUILT + [(SIGNATURE, [])]),
     "refused: \\005DigitalSignature is a storage, where Authenticode writes a stream"),
    ("a signature followed by a second element", "signed",
     lambda: cf.write(REBUILT + [(SIGNATURE, SIGNED + der(4, b"more"))]),
     "refused: \\005DigitalSignature is no DER PKCS #7 SignedData of Authenticode"),
    ("a signature that ends early", "signed", lambda: cf.write(REBUILT + [(SIGNATURE, SIGNED[:-1])]),
     "refused: \\005DigitalSignature is no DER PKCS #7 SignedData of Authenticode"),
    ("a metadata digest of another length", "signed",
     lambda: cf.write(REBUILT + [(SIGNATURE, SIGNED), (METADATA_DIGEST, bytes(32))]),
     "refused: \\005MsiDigitalSignatureEx holds 32 bytes, not a SHA-1 digest"),
    ("a metadata digest without a signature", "signed", lambda: cf.write(REBUILT + [(METADATA_DIGEST, bytes(20))]),
     "refused: \\005MsiDigitalSignatureEx is there without \\005DigitalSignature"),
    ("a duplicate name", "none", lambda: cf.write(REBUILT + [(CUSTOM_ACTION_AGAIN, b"honest")]),
     "refused: two entries of the root storage decode to one name, !CustomAction"),
    ("a spelling Windows Installer never writes", "none",
     lambda: cf.write(renamed(REBUILT, CUSTOM_ACTION, CUSTOM_ACTION_AGAIN)),
     "refused: entry !CustomAction of the root storage is not spelt as Windows Installer spells that name "
     "(U+4840 U+480C U+4838"),
    ("a sub-storage", "none", lambda: cf.write(REBUILT + [(STORAGE, [(EXTRA, b"x")])]),
     "it holds storage Nested, which the rebuilt package lacks; it holds stream Nested/Binary.Extra, which"),
    ("another root CLSID", "none", lambda: cf.write(REBUILT, OTHER_CLSID),
     "its root storage's CLSID is {000C1086-0000-0000-C000-000000000046}, the rebuilt package's "
     "{000C1084-0000-0000-C000-000000000046}"),
    ("an extra stream", "none", lambda: cf.write(REBUILT + [(EXTRA, b"extra")]),
     "it holds stream Binary.Extra, which the rebuilt package lacks"),
    ("a missing stream", "none", lambda: cf.write(REBUILT[:-1]),
     "it lacks stream Binary.CloseHalvotren, which the rebuilt package holds"),
    ("a changed stream", "none", lambda: cf.write(changed(REBUILT, CUSTOM_ACTION, b"!\x003\x00B\x8c" + bytes(20))),
     "stream !CustomAction, first at byte offset 5"),
    ("a storage where a stream was", "none", lambda: cf.write(changed(REBUILT, PROPERTY, [(EXTRA, b"x")])),
     "!Property is a storage, in the rebuilt package a stream"),
    ("a directory loop", "none", lambda: (lambda data: cf.patch(data, top(data), cf.RIGHT, top(data)))(
        cf.write(REBUILT)), "refused: the compound file is malformed: double reference"),
    ("a sibling index out of range", "none", lambda: (lambda data: cf.patch(data, top(data), cf.LEFT, 99))(
        cf.write(REBUILT)), "refused: the compound file is malformed: OLE DirEntry index out of range"),
    ("a stream running past the file", "none", lambda: cf.write(REBUILT)[:-1024],
     "refused: the compound file is malformed"),
    ("a tree out of order", "none", lambda: swapped(cf.write(REBUILT)),
     "refused: its directory's tree is out of order: looking up"),
    ("a name field without its closing null", "none", lambda: cf.patch(cf.write(REBUILT), 1, cf.NAME_LENGTH, 9, 2),
     "refused: its directory is malformed: entry 1's name field has no closing null"),
    ("a name holding a null", "none",
     lambda: cf.write(renamed(REBUILT, PROPERTY, PROPERTY[:2] + "\0" + PROPERTY[2:])),
     "refused: its directory is malformed: entry 3's name holds a null"),
    ("an unused entry in the tree", "none", lambda: cf.patch(cf.write(REBUILT), 2, cf.TYPE, 0, 1),
     "refused: its directory is malformed: entry 2, in the root storage's tree, is of type 0"),
    ("a signature in an unsigned release", "none", lambda: cf.write(REBUILT + [(SIGNATURE, SIGNED)]),
     "it holds \\005DigitalSignature, a signature's stream, though the buildinfo says the release is unsigned"),
    ("no signature in a signed release", "signed", lambda: cf.write(REBUILT),
     "it holds no Authenticode signature, though the buildinfo says the release is signed"),
    ("a storage of another class", "none",
     lambda: cf.write(REBUILT + [(STORAGE, [(EXTRA, b"x")], OTHER_CLSID)]),
     "storage Nested's CLSID is {000C1086-0000-0000-C000-000000000046}, the rebuilt package's none"),
]


class Comparison(unittest.TestCase):
    def test_rows(self):
        with tempfile.TemporaryDirectory() as work:
            published, rebuilt = os.path.join(work, "published.msi"), os.path.join(work, "rebuilt.msi")
            for title, authenticode, make, words in ROWS:
                with self.subTest(title):
                    reference = REBUILT + [(STORAGE, [(EXTRA, b"x")])] * title.startswith("a storage of")
                    with open(rebuilt, "wb") as f:
                        f.write(cf.write(reference))
                    with open(published, "wb") as f:
                        f.write(make())
                    said = "; ".join(compare_release.package_findings(published, rebuilt, authenticode))
                    if words is None:
                        self.assertEqual("", said)
                    else:
                        self.assertIn(words, said)


class Names(unittest.TestCase):
    def test_a_name_decodes_and_encodes_back_to_its_stored_spelling(self):
        for stored, name in ((CUSTOM_ACTION, "!CustomAction"), (CLOSER, "Binary.CloseHalvotren"),
                             (PROPERTY, "!Property"), (SUMMARY, SUMMARY),
                             ("\u4840\u3f3f\u4577\u446c\u3b6a\u45e4\u4824", "!_StringData"),
                             ("\u3864-\u480c", "a1-C")):
            self.assertEqual(name, msi_streams.decode_name(stored))
            self.assertEqual(stored, msi_streams.encode_name(name))

    def test_overwriting_a_stream_keeps_every_other(self):
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "package.msi")
            with open(path, "wb") as f:
                f.write(cf.write(REBUILT))
            for name, data in (("!CustomAction", bytes(24)), ("Binary.CloseHalvotren", b"ZM" + bytes(5000))):
                msi_streams.overwrite(path, name, data)
                self.assertEqual(data, msi_streams.streams(path)[name])
            self.assertEqual(len(REBUILT), len(msi_streams.streams(path)))
            self.assertEqual(bytes(range(256)) * 2, msi_streams.streams(path)["\x05SummaryInformation"])


if __name__ == "__main__":
    unittest.main()

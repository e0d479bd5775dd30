#!/usr/bin/env python3
"""The comparisons verify-release.sh makes between a published release and
its rebuild. Each prints what it finds in a few words and ends with 0 when
the part is as the rebuild says, 1 when not.

    compare_release.py program PUBLISHED REBUILT   the exe, its signature removed
    compare_release.py package PUBLISHED REBUILT   the packages' streams
    compare_release.py key EXE PUBLIC.pem          the update key built into the exe
"""
import base64
import struct
import sys

import msi_streams

# Authenticode's streams in a package: the signature covers every other one.
SIGNATURE_STREAMS = ("\x05DigitalSignature", "\x05MsiDigitalSignatureEx")


def first_difference(a, b):
    for at, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return at
    return None if len(a) == len(b) else min(len(a), len(b))


def checksum_field(exe):
    """Where the PE header keeps its checksum, or None."""
    if len(exe) < 0x40 or exe[:2] != b"MZ":
        return None
    header, = struct.unpack_from("<I", exe, 0x3C)
    at = header + 24 + 64
    return at if exe[header:header + 4] == b"PE\0\0" and at + 4 <= len(exe) else None


def program(published, rebuilt):
    with open(published, "rb") as f:
        ours = f.read()
    with open(rebuilt, "rb") as f:
        theirs = f.read()
    at = first_difference(ours, theirs)
    if at is None:
        print("%d bytes" % len(ours))
        return 0
    field = checksum_field(theirs)
    if field is not None and field <= at < field + 4:
        # Removing a signature leaves the checksum the signing tool wrote,
        # unless that tool computes it again: that field alone can differ.
        blank = lambda exe: exe[:field] + b"\0\0\0\0" + exe[field + 4:]
        if first_difference(blank(ours), blank(theirs)) is None:
            print("the header checksum (offset 0x%X) differs, which removing the signature did not restore; "
                  "every other byte is the same" % field)
            return 0
        at = first_difference(blank(ours), blank(theirs))
    print("first at byte offset %d (0x%X); %d bytes published, %d rebuilt" % (at, at, len(ours), len(theirs)))
    return 1


def package(published, rebuilt):
    ours, theirs = [{name: data for name, data in msi_streams.streams(path).items()
                     if name not in SIGNATURE_STREAMS} for path in (published, rebuilt)]
    found = []
    for name in sorted(set(ours) | set(theirs)):
        shown = name.replace("\x05", "\\005")
        if name not in theirs:
            found.append("stream %s is not in the rebuilt package" % shown)
        elif name not in ours:
            found.append("stream %s is missing" % shown)
        elif ours[name] != theirs[name]:
            found.append("stream %s, first at byte offset %d" % (shown, first_difference(ours[name], theirs[name])))
    if found:
        print("; ".join(found))
        return 1
    print("%d streams, the signature's left aside" % len(ours))
    return 0


def key(exe, pem):
    with open(pem) as f:
        der = base64.b64decode("".join(line for line in f.read().splitlines() if not line.startswith("-----")))
    with open(exe, "rb") as f:
        if der[-32:] in f.read():
            return 0
    print("the buildinfo's key is not the one built into the program")
    return 1


if __name__ == "__main__":
    commands = {"program": program, "package": package, "key": key}
    if len(sys.argv) != 4 or sys.argv[1] not in commands:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(commands[sys.argv[1]](*sys.argv[2:]))

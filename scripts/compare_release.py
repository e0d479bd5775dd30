#!/usr/bin/env python3
"""The comparisons verify-release.sh makes between a published release and
its rebuild. Each prints what it finds in a few words and ends with 0 when
the part is as the rebuild says, 1 when not.

    compare_release.py program PUBLISHED REBUILT   the exe, its signature removed
    compare_release.py package PUBLISHED REBUILT AUTHENTICODE
                                                   the packages' entries;
                                                   AUTHENTICODE is what the
                                                   buildinfo says: signed or
                                                   none
    compare_release.py key EXE PUBLIC.pem          the update key built into the exe
"""
import base64
import struct
import sys

import msi_streams
import signer

# Authenticode's streams in a package, in the root storage: the signature
# covers every other entry.
SIGNATURE, SIGNATURE_EX = ("\x05DigitalSignature",), ("\x05MsiDigitalSignatureEx",)
SIGNATURE_STREAMS = (SIGNATURE, SIGNATURE_EX)
SIGNED_DATA, INDIRECT_DATA = "1.2.840.113549.1.7.2", "1.3.6.1.4.1.311.2.1.4"
DIGEST_SIZES = {"MD5": 16, "SHA-1": 20, "SHA-256": 32, "SHA-384": 48, "SHA-512": 64}


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


def clsid(text):
    return "{%s}" % text if text else "none"


def signature_digest(data):
    """The digest its first signer names, when data is one DER PKCS #7
    SignedData of Authenticode's indirect data; ValueError when not."""
    found = signer.elements(data)
    if len(found) != 1 or found[0][0] != signer.SEQUENCE:
        raise ValueError("not one DER sequence that fills the stream")
    kind = signer.elements(found[0][1])[0]
    _, _, content = signer.signed_data(found[0][1])
    if kind[0] != signer.OID or signer.oid(kind[1]) != SIGNED_DATA or signer.oid(content[0][1]) != INDIRECT_DATA:
        raise ValueError("not a SignedData of Authenticode's indirect data")
    return signer.signatures(found[0][1])[0][0]


def signature_refusal(entries):
    """Why the package's signature entries are not what Authenticode writes,
    or None: they are set aside, so their names must hide nothing else."""
    signature, extended = (msi_streams.shown(path[0]) for path in SIGNATURE_STREAMS)
    for path, name in zip(SIGNATURE_STREAMS, (signature, extended)):
        if path in entries and entries[path].kind != "stream":
            return "%s is a storage, where Authenticode writes a stream" % name
    digest = None
    if SIGNATURE in entries:
        try:
            digest = signature_digest(entries[SIGNATURE].data)
        except (ValueError, IndexError, UnicodeDecodeError) as error:
            return "%s is no DER PKCS #7 SignedData of Authenticode (%s)" % (signature, error or "it ends early")
    if SIGNATURE_EX in entries:
        # No PKCS #7: the bare digest, with the signature's own algorithm,
        # of the package's metadata (its entries' names, classes and times),
        # which the signed digest then takes in. Only computing it again, as
        # Windows does when it checks the signature, checks its bytes; its
        # length must be that algorithm's.
        size = len(entries[SIGNATURE_EX].data)
        if digest is None:
            return "%s is there without %s" % (extended, signature)
        if size != DIGEST_SIZES.get(digest):
            return "%s holds %d bytes, not a %s digest" % (extended, size, digest)
    return None


def package_findings(published, rebuilt, authenticode):
    """What sets the published package apart from the rebuilt one, [] when
    nothing does. A package refused as ambiguous or malformed, or whose
    signature's entries are not a signature's, gives that reason alone: what
    its entries are is then no longer clear. authenticode is what the
    buildinfo says of the release: "signed" or "none"."""
    try:
        ours = msi_streams.read(published)
    except msi_streams.Refused as refused:
        return ["refused: %s" % refused]
    refusal = signature_refusal(ours.entries)
    if refusal:
        return ["refused: %s" % refusal]
    try:
        theirs = msi_streams.read(rebuilt)
    except msi_streams.Refused as refused:
        return ["the rebuilt package itself is refused: %s" % refused]
    found = []
    signature = [path for path in ours.entries if path in SIGNATURE_STREAMS]
    if signature and authenticode == "none":
        found.append("it holds %s, a signature's stream, though the buildinfo says the release is unsigned"
                     % msi_streams.shown(signature[0][0]))
    if not signature and authenticode == "signed":
        found.append("it holds no Authenticode signature, though the buildinfo says the release is signed")
    if ours.clsid != theirs.clsid:
        found.append("its root storage's CLSID is %s, the rebuilt package's %s"
                     % (clsid(ours.clsid), clsid(theirs.clsid)))
    for path in sorted(set(ours.entries) | set(theirs.entries)):
        if path in SIGNATURE_STREAMS:
            continue
        mine, other = ours.entries.get(path), theirs.entries.get(path)
        name = msi_streams.shown((mine or other).shown)
        if other is None:
            found.append("it holds %s %s, which the rebuilt package lacks" % (mine.kind, name))
        elif mine is None:
            found.append("it lacks %s %s, which the rebuilt package holds" % (other.kind, name))
        elif mine.kind != other.kind:
            found.append("%s is a %s, in the rebuilt package a %s" % (name, mine.kind, other.kind))
        elif mine.clsid != other.clsid:
            found.append("storage %s's CLSID is %s, the rebuilt package's %s" % (name, clsid(mine.clsid),
                                                                                   clsid(other.clsid)))
        elif mine.data != other.data:
            found.append("stream %s, first at byte offset %d" % (name, first_difference(mine.data, other.data)))
    return found


def package(published, rebuilt, authenticode):
    found = package_findings(published, rebuilt, authenticode)
    if found:
        print("; ".join(found))
        return 1
    entries = msi_streams.read(published).entries
    aside = len([path for path in entries if path in SIGNATURE_STREAMS])
    print("%d entries, each as rebuilt; %s" % (len(entries) - aside, "the signature's %d stream%s left aside"
                                               % (aside, "s" * (aside > 1)) if aside else "no signature"))
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
    commands = {"program": (program, 2), "package": (package, 3), "key": (key, 2)}
    command, count = commands.get(sys.argv[1] if len(sys.argv) > 1 else "", (None, 0))
    given = sys.argv[2:]
    if not command or len(given) != count or given[2:] not in ([], ["signed"], ["none"]):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(command(*given))

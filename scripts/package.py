#!/usr/bin/env python3
"""Builds the installer package with wixl so that the same inputs always
give the same bytes. wixl draws a new product code and package code for
every package and stamps it and its cabinet with the clock; here

- the product code is a name-based UUID of the package's inputs: the
  configured template (which holds the version), the time and every file
  the package embeds. Identical inputs give the same product and any change
  a new one, so a rebuild with other inputs is a major upgrade of the one it
  replaces;
- the package code is a name-based UUID of the finished package: every
  entry, the summary information with the code itself left blank. Two
  packages differ in their package codes whenever they differ at all, by
  whatever made them, and so never pass for each other;
- the summary information's created and saved dates and the cabinet's file
  times are the build's time (EPOCH, seconds since 1970).

Three things of the template wixl cannot write, this writes after it: a
property's Secure attribute (each property so marked joins the upgrade's in
SecureCustomProperties, without which Windows Installer drops a property
given on the command line on the server side of a per-machine
installation), a custom action that runs a program of the Binary table
(BinaryKey with ExeCommand), and an action run when the installation ends
(a sequence's Custom with OnExit).

    package.py --epoch EPOCH [--files-from DIR] TEMPLATE OUTPUT

TEMPLATE is the configured .wxs; the files it names are taken beside it,
or from DIR when DIR holds a file of that name (a package rebuilt around
the files another package holds).
"""
import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ElementTree

import msi_streams

# The attributes through which a template puts a file into the package:
# File/@Source for the installed files, Binary/@SourceFile (and Icon's) for
# the files it only carries, such as a custom action's program. A new way
# in (a Merge module, say) is added here, so that its file counts among the
# inputs.
EMBEDDING = ("Source", "SourceFile")
# Any fixed value does; changing it changes every code.
NAMESPACE = uuid.UUID("7C4E2A91-5D3B-4F60-9A8E-2B1F6C0D3E57")
SUMMARY = "\x05SummaryInformation"
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
# Seconds from 1601, where a FILETIME counts from, to 1970.
FILETIME_1970 = 11644473600


def embedded_files(template):
    """The relative paths of the files the template embeds, sorted."""
    names = set()
    for element in ElementTree.parse(template).iter():
        names.update(element.attrib[a] for a in EMBEDDING if a in element.attrib)
    return sorted(names)


def derive_product_code(template, files, epoch):
    """The product code, from the template's bytes, the time and each
    file's name and bytes: it is written into the package, so it comes from
    what the package is made of."""
    digest = hashlib.sha256()

    def take(label, data):
        digest.update(label.encode() + b"\0" + len(data).to_bytes(8, "big") + data)
    with open(template, "rb") as f:
        take("template", f.read())
    take("epoch", str(epoch).encode())
    for name, path in files:
        with open(path, "rb") as f:
            take("file " + name, f.read())
    return "{%s}" % str(uuid.uuid5(NAMESPACE, "product " + digest.hexdigest())).upper()


def derive_package_code(package, summary):
    """The package code, from every entry of the finished package: each
    one's path of UTF-16 names, its kind, its class and its bytes, the root's
    class, and the summary information as given (its own package code
    blanked)."""
    read = msi_streams.read(package)
    digest = hashlib.sha256()

    def take(data):
        digest.update(len(data).to_bytes(8, "big") + data)
    take(read.clsid.encode())
    for path in sorted(read.entries):
        entry = read.entries[path]
        take("/".join(path).encode("utf-16-le", "surrogatepass"))
        take((entry.kind + " " + entry.clsid).encode())
        take(summary if entry.shown == SUMMARY else entry.data or b"")
    return "{%s}" % str(uuid.uuid5(NAMESPACE, "package " + digest.hexdigest())).upper()


def stamp_summary(package, epoch):
    """Writes the time and then the package code into the summary
    information, in place: each value keeps its length. The code comes last,
    from the package as it is then, so that any change to what package.py
    writes, however it is made, gives another code."""
    data = bytearray(msi_streams.streams(package)[SUMMARY])
    section, = struct.unpack_from("<I", data, 44)
    count, = struct.unpack_from("<I", data, section + 4)
    offsets = dict(struct.unpack_from("<II", data, section + 8 + 8 * n) for n in range(count))

    def value(pid, kind):
        if pid not in offsets or struct.unpack_from("<I", data, section + offsets[pid])[0] != kind:
            raise ValueError("%s: summary property %d is missing or of another type" % (package, pid))
        return section + offsets[pid] + 4
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        struct.pack_into("<Q", data, value(pid, VT_FILETIME), (epoch + FILETIME_1970) * 10 ** 7)
    at = value(PID_REVNUMBER, VT_LPSTR)
    length = len("{00000000-0000-0000-0000-000000000000}") + 1
    if struct.unpack_from("<I", data, at)[0] != length:
        raise ValueError("%s: the package code is not a braced GUID" % package)
    data[at + 4:at + 4 + length] = bytes(length)
    data[at + 4:at + 4 + length] = derive_package_code(package, bytes(data)).encode() + b"\0"
    msi_streams.overwrite(package, SUMMARY, bytes(data))


def secure_properties(template):
    """The properties the template marks Secure="yes"."""
    return sorted(element.attrib["Id"] for element in ElementTree.parse(template).iter()
                  if element.tag.endswith("}Property") and element.attrib.get("Secure") == "yes")


# A custom action's Return, as the bits of its type.
RETURN_TYPES = {"check": 0, "ignore": 64, "asyncWait": 128, "asyncNoWait": 192}
BINARY_PROGRAM = re.compile(r'\s*<CustomAction\b[^>]*\bBinaryKey="[^>]*\bExeCommand="[^>]*/>')


def binary_program_actions(template):
    """(Id, type, BinaryKey, ExeCommand) of each custom action that runs a
    program of the Binary table: type 2, and how it returns."""
    return [(element.attrib["Id"], 2 + RETURN_TYPES[element.attrib.get("Return", "check")],
             element.attrib["BinaryKey"], element.attrib["ExeCommand"])
            for element in ElementTree.parse(template).iter()
            if element.tag.endswith("}CustomAction") and "BinaryKey" in element.attrib
            and "ExeCommand" in element.attrib]


# When the installation ends, as a sequence numbers it.
EXIT_SEQUENCES = {"success": -1, "cancel": -2, "error": -3}
EXIT_ACTION = re.compile(r'\s*<Custom\b[^>]*\bOnExit="[^>]*?(?:/>|>.*?</Custom>)', re.S)


def exit_actions(template):
    """(table, Action, condition, sequence) of each action that a sequence of
    the template runs when the installation ends."""
    return [(table.tag.split("}")[-1], custom.attrib["Action"], (custom.text or "").strip(),
             EXIT_SEQUENCES[custom.attrib["OnExit"]])
            for table in ElementTree.parse(template).iter()
            if table.tag.endswith(("}InstallExecuteSequence", "}InstallUISequence"))
            for custom in table if custom.tag.endswith("}Custom") and "OnExit" in custom.attrib]


def msi_query(package, query):
    subprocess.run(["msibuild", package, "-q", query], check=True)


def add_secure_properties(package, names):
    """Adds names to the package's SecureCustomProperties."""
    exported = subprocess.run(["msiinfo", "export", package, "Property"], stdout=subprocess.PIPE, text=True,
                              check=True).stdout
    secure = [row.split("\t")[1] for row in exported.splitlines() if row.startswith("SecureCustomProperties\t")]
    value = ";".join(secure + names)
    msi_query(package, "UPDATE `Property` SET `Value` = '%s' WHERE `Property` = 'SecureCustomProperties'" % value
              if secure else
              "INSERT INTO `Property` (`Property`, `Value`) VALUES ('SecureCustomProperties', '%s')" % value)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--files-from")
    parser.add_argument("template")
    parser.add_argument("output")
    args = parser.parse_args()
    beside = os.path.dirname(os.path.abspath(args.template))
    files = []
    for name in embedded_files(args.template):
        taken = os.path.join(args.files_from or beside, os.path.basename(name))
        files.append((name, taken if os.path.isfile(taken) else os.path.join(beside, name)))
    product_code = derive_product_code(args.template, files, args.epoch)
    # wixl takes the files relative to the template and each one's time
    # from the file system, so it builds from a copy of them, stamped.
    with tempfile.TemporaryDirectory() as stage:
        # Without them wixl only warns of the attribute and leaves the
        # action out.
        with open(args.template) as f, open(os.path.join(stage, "package.wxs"), "w") as staged:
            staged.write(EXIT_ACTION.sub("", BINARY_PROGRAM.sub("", re.sub(r'\s+Secure="yes"', "", f.read()))))
        for name, path in files:
            copy = os.path.join(stage, name)
            os.makedirs(os.path.dirname(copy), exist_ok=True)
            shutil.copyfile(path, copy)
            os.utime(copy, (args.epoch, args.epoch))
        built = os.path.join(stage, "package.msi")
        subprocess.run(["wixl", "-a", "x86", "-D", "ProductCode=" + product_code, "-o", built, "package.wxs"],
                       cwd=stage, check=True)
        secure = secure_properties(args.template)
        if secure:
            add_secure_properties(built, secure)
        for action in binary_program_actions(args.template):
            msi_query(built, "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
                      "VALUES ('%s', %d, '%s', '%s')" % action)
        for row in exit_actions(args.template):
            if "'" in row[2]:
                raise ValueError("%s: a quote in the condition of %s" % (args.template, row[1]))
            msi_query(built, "INSERT INTO `%s` (`Action`, `Condition`, `Sequence`) VALUES ('%s', '%s', %d)" % row)
        # Last, after every change to the package: the package code is
        # derived from what the package then holds.
        stamp_summary(built, args.epoch)
        shutil.copyfile(built, args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""The entries of a Windows Installer package, read from its compound file
the way Windows Installer reads them, and refused when two readers could
take the file for two different packages.

A package's tables, summary information, cabinet and Authenticode signature
are each a stream; the signature covers the streams, not where the file
keeps them. So two packages are the same package when their entries are,
whatever their layout. The compound file's own layer (header, sector
chains, directory) is olefile's, which refuses loops and chains that run
out of range; the names are this module's: Windows Installer finds a
stream by looking its encoded name up in the directory's tree, so a name it
would never write, two entries that decode to one name, or a tree in which
that lookup misses an entry could show it another stream than the one a
reader of the whole directory sees.

    read(path)                  a Package: its root CLSID and every entry
    streams(path)               {name: bytes}, names as Windows Installer
                                spells them ("!Property", "halvotren.cab"),
                                a storage's "storage/stream"
    overwrite(path, name, data) replaces a stream in place, same length
    decode_name(raw), encode_name(name)

read and everything built on it raise Refused, naming the reason.
"""
import collections
import io

import olefile

_NO_ENTRY = 0xFFFFFFFF
_STORAGE, _STREAM, _ROOT = 1, 2, 5
# Table and stream names are packed two characters to one from this set;
# a table's name starts with a marker that reads as "!".
_NAME_CHARACTERS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"
_PAIRS, _SINGLES, _TABLE_MARKER = 0x3800, 0x4800, 0x4840
# Property sets (the summary information, the signature) are named by OLE,
# not by Windows Installer: their names are stored as they read.
_PROPERTY_SET = "\x05"

# path: the raw names from the root down; shown: the decoded path
# ("storage/stream"); kind: "stream" or "storage"; data: a stream's bytes;
# clsid: a storage's class, "" when none.
Entry = collections.namedtuple("Entry", "path shown kind data clsid")
Package = collections.namedtuple("Package", "clsid entries")


class Refused(Exception):
    """A package that is malformed or ambiguous; the message says why."""


def decode_name(raw):
    out = []
    for character in raw:
        code = ord(character)
        if _PAIRS <= code < _SINGLES:
            code -= _PAIRS
            out += [_NAME_CHARACTERS[code & 0x3F], _NAME_CHARACTERS[code >> 6]]
        elif _SINGLES <= code < _TABLE_MARKER:
            out.append(_NAME_CHARACTERS[code - _SINGLES])
        elif code == _TABLE_MARKER:
            out.append("!")
        else:
            out.append(character)
    return "".join(out)


def encode_name(name):
    """The one spelling Windows Installer gives name: characters of the set
    packed in pairs from the left, a last one alone, any other character as
    it is; a table's "!" as the marker."""
    if name.startswith(_PROPERTY_SET):
        return name
    out = []
    if name.startswith("!"):
        out.append(chr(_TABLE_MARKER))
        name = name[1:]
    at = 0
    while at < len(name):
        first = _NAME_CHARACTERS.find(name[at])
        if first < 0:
            out.append(name[at])
            at += 1
            continue
        second = _NAME_CHARACTERS.find(name[at + 1]) if at + 1 < len(name) else -1
        if second < 0:
            out.append(chr(_SINGLES + first))
            at += 1
        else:
            out.append(chr(_PAIRS + first + (second << 6)))
            at += 2
    return "".join(out)


def shown(name):
    return name.replace(_PROPERTY_SET, "\\005")


def _units(raw):
    return raw.encode("utf-16-le", "surrogatepass")


def _lookup_key(raw):
    """The order of a storage's tree: shorter names first, then by each
    UTF-16 unit in upper case."""
    units = _units(raw)
    upper = []
    for at in range(0, len(units), 2):
        unit = int.from_bytes(units[at:at + 2], "little")
        folded = chr(unit).upper() if not 0xD800 <= unit < 0xE000 else chr(unit)
        upper.append(ord(folded) if len(folded) == 1 else unit)
    return len(upper), upper


def _raw_name(entry):
    """The entry's name, as its UTF-16 units, from a name field that is
    whole: an even length that counts a closing null, and no null before."""
    length = entry.namelength
    if length % 2 or not 2 <= length <= 64 or entry.name_raw[length - 2:length] != b"\0\0":
        raise Refused("its directory is malformed: entry %d's name field has no closing null where its "
                      "length says" % entry.sid)
    units = entry.name_raw[:length - 2]
    if any(units[at:at + 2] == b"\0\0" for at in range(0, len(units), 2)):
        raise Refused("its directory is malformed: entry %d's name holds a null" % entry.sid)
    return units.decode("utf-16-le", "surrogatepass")


def _check_storage(ole, storage, prefix):
    """The checks on the names of one storage's entries, and that looking
    each one up in the storage's tree finds that one."""
    where = "/".join(prefix) or "the root storage"
    names = {}
    for kid in storage.kids:
        if kid.entry_type not in (_STORAGE, _STREAM):
            raise Refused("its directory is malformed: entry %d, in %s's tree, is of type %d"
                          % (kid.sid, where, kid.entry_type))
        raw = _raw_name(kid)
        decoded = decode_name(raw)
        if decoded in names:
            raise Refused("two entries of %s decode to one name, %s" % (where, shown(decoded)))
        names[decoded] = raw
    for decoded, raw in names.items():
        if encode_name(decoded) != raw:
            raise Refused("entry %s of %s is not spelt as Windows Installer spells that name (%s)"
                          % (shown(decoded), where, " ".join("U+%04X" % ord(c) for c in raw)))
    for kid in storage.kids:
        key = _lookup_key(_raw_name(kid))
        at, steps = storage.sid_child, 0
        while at != _NO_ENTRY and steps <= len(ole.direntries):
            node = ole.direntries[at]
            there = _lookup_key(_raw_name(node))
            if key == there:
                break
            at = node.sid_left if key < there else node.sid_right
            steps += 1
        if at != kid.sid:
            raise Refused("its directory's tree is out of order: looking up %s in %s does not find it"
                          % (shown(decode_name(_raw_name(kid))), where))


def _entries(ole, storage, path, found):
    _check_storage(ole, storage, [decode_name(p) for p in path])
    for kid in storage.kids:
        here = path + (_raw_name(kid),)
        name = "/".join(decode_name(p) for p in here)
        if kid.entry_type == _STREAM:
            found[here] = Entry(here, name, "stream", ole.openstream(_olefile_path(ole, here)).read(), "")
        else:
            found[here] = Entry(here, name, "storage", None, kid.clsid)
            _entries(ole, kid, here, found)
    return found


def _olefile_path(ole, path):
    """The names olefile finds the entry at path by."""
    names, storage = [], ole.root
    for raw in path:
        [storage] = [kid for kid in storage.kids if _raw_name(kid) == raw]
        names.append(storage.name)
    return names


def _open(path, write=False):
    """olefile's reading of path, refused at its first defect. A file is
    read whole first, so that a refused one is closed."""
    if not write:
        with open(path, "rb") as f:
            path = io.BytesIO(f.read())
    try:
        return olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT, write_mode=write)
    except (OSError, ValueError, IndexError) as error:
        raise Refused("the compound file is malformed: %s" % error)


def read(path):
    """The package's root CLSID ("" when none) and {path: Entry} of every
    entry its directory's tree reaches."""
    with _open(path) as ole:
        try:
            if ole.root.entry_type != _ROOT:
                raise Refused("its directory is malformed: the first entry is not the root")
            return Package(ole.root.clsid, _entries(ole, ole.root, (), {}))
        except (OSError, ValueError, IndexError) as error:
            raise Refused("the compound file is malformed: %s" % error)


def streams(path):
    return {entry.shown: entry.data for entry in read(path).entries.values() if entry.kind == "stream"}


def overwrite(path, name, data):
    [entry] = [e for e in read(path).entries.values() if e.shown == name and e.kind == "stream"]
    if len(entry.data) != len(data):
        raise ValueError("%s: a stream is overwritten only with as many bytes" % name)
    with _open(path, write=True) as ole:
        ole.write_stream(_olefile_path(ole, entry.path), data)

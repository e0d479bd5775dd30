"""A small compound-file writer for the package reader's tests, as far as
they need one: version 3 (512-byte sectors), the FAT listed in the header
alone (files up to about 7 MB), streams under 4096 bytes in the mini
stream, each storage's children a balanced tree in the directory's order
(shorter names first, then by upper case). Names are given as stored.

    write(children, clsid, top)
                            the file's bytes; a child is (name, bytes) for a
                            stream, (name, [children], clsid) for a storage;
                            top, when given, names the child at the top of
                            the root's tree
    patch(data, index, offset, value, size=4)
                            changes a field of directory entry index (the
                            root is 0, then the children depth first)
"""
import math
import struct
import uuid

SECTOR, MINI_SECTOR, CUTOFF = 512, 64, 4096
FREE, END, FAT_SECTOR, NO_ENTRY = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFF
# A directory entry's fields, from its start.
NAME_LENGTH, TYPE, LEFT, RIGHT, CHILD = 64, 66, 68, 72, 76
STORAGE, STREAM, ROOT = 1, 2, 5
PACKAGE_CLSID = uuid.UUID("000C1084-0000-0000-C000-000000000046").bytes_le
NO_CLSID = bytes(16)


def _order(name):
    return len(name.encode("utf-16-le")) // 2, name.upper()


def _entries(children, clsid, top):
    entries = [{"name": "Root Entry", "type": ROOT, "clsid": clsid, "data": b""}]

    def add(child):
        entry = {"name": child[0], "type": STREAM, "clsid": NO_CLSID, "data": child[1], "child": NO_ENTRY}
        entries.append(entry)
        index = len(entries) - 1
        if isinstance(child[1], list):
            entry.update(type=STORAGE, data=b"", clsid=child[2] if len(child) > 2 else NO_CLSID)
            entry["child"] = tree([add(grandchild) for grandchild in child[1]])
        return index

    def tree(indices, top=None):
        ordered = sorted(indices, key=lambda index: _order(entries[index]["name"]))

        def build(low, high, middle=None):
            if low >= high:
                return NO_ENTRY
            middle = (low + high) // 2 if middle is None else middle
            entry = entries[ordered[middle]]
            entry["left"], entry["right"] = build(low, middle), build(middle + 1, high)
            return ordered[middle]
        tops = [at for at, index in enumerate(ordered) if entries[index]["name"] == top]
        return build(0, len(ordered), tops[0] if tops else None)
    entries[0].update(left=NO_ENTRY, right=NO_ENTRY)
    entries[0]["child"] = tree([add(child) for child in children], top)
    return entries


def write(children, clsid=PACKAGE_CLSID, top=None):
    entries = _entries(children, clsid, top)
    small = [e for e in entries if e["type"] == STREAM and 0 < len(e["data"]) < CUTOFF]
    large = [e for e in entries if e["type"] == STREAM and len(e["data"]) >= CUTOFF]
    mini_fat, mini_stream = [], b""
    for entry in small:
        count = math.ceil(len(entry["data"]) / MINI_SECTOR)
        entry["start"] = len(mini_fat)
        mini_fat += [len(mini_fat) + n + 1 for n in range(count - 1)] + [END]
        mini_stream += entry["data"].ljust(count * MINI_SECTOR, b"\0")
    counts = [math.ceil(len(entries) / 4), math.ceil(len(mini_fat) / 128), math.ceil(len(mini_stream) / SECTOR)]
    counts += [math.ceil(len(e["data"]) / SECTOR) for e in large]
    fat_sectors = 1
    while fat_sectors * 128 < fat_sectors + sum(counts):
        fat_sectors += 1
    fat = [FAT_SECTOR] * fat_sectors
    starts = []
    for count in counts:
        starts.append(len(fat) if count else END)
        fat += [len(fat) + n + 1 for n in range(count - 1)] + [END] * (count > 0)
    directory, mini_fat_start, mini_stream_start = starts[:3]
    for entry, start in zip(large, starts[3:]):
        entry["start"] = start
    entries[0].update(start=mini_stream_start, data=b"\0" * len(mini_stream))
    table = b"".join(_entry(e) for e in entries).ljust(counts[0] * SECTOR, b"\0")
    header = struct.pack("<8s16sHHHHH6sIIIIIIIII109I", b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", NO_CLSID, 0x3E, 3,
                         0xFFFE, 9, 6, b"", 0, fat_sectors, directory, 0, CUTOFF, mini_fat_start, counts[1], END, 0,
                         *(list(range(fat_sectors)) + [FREE] * (109 - fat_sectors)))
    fat += [FREE] * (fat_sectors * 128 - len(fat))
    pieces = [header, struct.pack("<%dI" % len(fat), *fat), table,
              struct.pack("<%dI" % len(mini_fat), *mini_fat).ljust(counts[1] * SECTOR, b"\xff"),
              mini_stream.ljust(counts[2] * SECTOR, b"\0")]
    pieces += [e["data"].ljust(math.ceil(len(e["data"]) / SECTOR) * SECTOR, b"\0") for e in large]
    return b"".join(pieces)


def _entry(entry):
    name = entry["name"].encode("utf-16-le")
    return struct.pack("<64sHBBIII16sIQQIQ", name, len(name) + 2, entry["type"], 1, entry["left"], entry["right"],
                       entry["child"], entry["clsid"], 0, 0, 0, entry.get("start", END), len(entry["data"]))


def patch(data, index, offset, value, size=4):
    directory, = struct.unpack_from("<I", data, 0x30)
    at = (directory + 1) * SECTOR + index * 128 + offset
    return data[:at] + value.to_bytes(size, "little") + data[at + size:]

"""The streams of a Windows Installer package, read straight from its
compound file: a package's tables, summary information, cabinet and
Authenticode signature are each a stream, and the signature covers the
streams, not where the file keeps them. So two packages are the same
package when their streams are, whatever their layout.

    streams(path)               {name: bytes}, names as Windows Installer
                                spells them ("!Property", "halvotren.cab")
    extent(path, name)          [(file offset, length), ...] of its bytes
    overwrite(path, name, data) replaces a stream in place, same length
"""
import struct

_FREE = 0xFFFFFFFF
_END_OF_CHAIN = 0xFFFFFFFE
_STREAM, _ROOT = 2, 5
# Table and stream names are packed two characters to one from this set;
# tables carry a marker that reads as "!".
_NAME_CHARACTERS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"


def decode_name(name):
    out = []
    for character in name:
        code = ord(character)
        if 0x3800 <= code < 0x4800:
            code -= 0x3800
            out += [_NAME_CHARACTERS[code & 0x3F], _NAME_CHARACTERS[code >> 6]]
        elif 0x4800 <= code < 0x4840:
            out.append(_NAME_CHARACTERS[code - 0x4800])
        elif code == 0x4840:
            out.append("!")
        else:
            out.append(character)
    return "".join(out)


class _CompoundFile:
    def __init__(self, data):
        if data[:8] != b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1":
            raise ValueError("not a compound file")
        self.data = data
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
        first_directory, = struct.unpack_from("<I", data, 0x30)
        self.cutoff, first_mini_fat, _, first_difat, _ = struct.unpack_from("<5I", data, 0x38)
        fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
        per_sector = self.sector_size // 4
        sector = first_difat
        while sector not in (_FREE, _END_OF_CHAIN):
            entries = struct.unpack_from("<%dI" % per_sector, data, self._offset(sector))
            fat_sectors += entries[:-1]
            sector = entries[-1]
        self.fat = self._table(s for s in fat_sectors if s != _FREE)
        self.mini_fat = self._table(self._chain(first_mini_fat, self.fat))
        directory = b"".join(self._sector(s) for s in self._chain(first_directory, self.fat))
        self.entries = [directory[at:at + 128] for at in range(0, len(directory), 128)]
        root = self._entry(0)
        self.mini_stream = [self._offset(s) for s in self._chain(root["start"], self.fat)]

    def _offset(self, sector):
        return (sector + 1) * self.sector_size

    def _sector(self, sector):
        return self.data[self._offset(sector):self._offset(sector) + self.sector_size]

    def _table(self, sectors):
        return [n for s in sectors for n in struct.unpack("<%dI" % (self.sector_size // 4), self._sector(s))]

    @staticmethod
    def _chain(sector, table):
        seen = set()
        while sector not in (_FREE, _END_OF_CHAIN):
            if sector in seen or sector >= len(table):
                raise ValueError("broken sector chain")
            seen.add(sector)
            yield sector
            sector = table[sector]

    def _entry(self, index):
        raw = self.entries[index]
        length, kind = struct.unpack_from("<HB", raw, 64)
        left, right, child = struct.unpack_from("<3I", raw, 68)
        start, size = struct.unpack_from("<IQ", raw, 116)
        if self.sector_size == 512:
            size &= 0xFFFFFFFF  # version 3 files leave the upper half undefined
        return {"name": raw[:max(length - 2, 0)].decode("utf-16-le"), "kind": kind, "left": left,
                "right": right, "child": child, "start": start, "size": size}

    def streams(self):
        """{path: entry} of every stream, a storage's named "storage/stream"."""
        found = {}

        def walk(index, prefix):
            if index == _FREE:
                return
            entry = self._entry(index)
            walk(entry["left"], prefix)
            walk(entry["right"], prefix)
            name = prefix + decode_name(entry["name"])
            if entry["kind"] == _STREAM:
                found[name] = entry
            else:
                walk(entry["child"], name + "/")
        walk(self._entry(0)["child"], "")
        return found

    def extent(self, entry):
        if entry["size"] >= self.cutoff:
            pieces = [(self._offset(s), self.sector_size) for s in self._chain(entry["start"], self.fat)]
        else:
            pieces = []
            for mini in self._chain(entry["start"], self.mini_fat):
                at = mini * self.mini_size
                pieces.append((self.mini_stream[at // self.sector_size] + at % self.sector_size, self.mini_size))
        out, left = [], entry["size"]
        for offset, length in pieces:
            if left == 0:
                break
            out.append((offset, min(length, left)))
            left -= out[-1][1]
        if left:
            raise ValueError("a stream runs past its sectors")
        return out


def _read(path):
    with open(path, "rb") as f:
        return _CompoundFile(f.read())


def streams(path):
    compound = _read(path)
    return {name: b"".join(compound.data[at:at + length] for at, length in compound.extent(entry))
            for name, entry in compound.streams().items()}


def extent(path, name):
    compound = _read(path)
    return compound.extent(compound.streams()[name])


def overwrite(path, name, data):
    pieces = extent(path, name)
    if sum(length for _, length in pieces) != len(data):
        raise ValueError("%s: a stream is overwritten only with as many bytes" % name)
    with open(path, "r+b") as f:
        for offset, length in pieces:
            f.seek(offset)
            f.write(data[:length])
            data = data[length:]

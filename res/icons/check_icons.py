#!/usr/bin/env python3
"""Checks Halvotren's generated icons the way Windows XP will read them.

  check_icons.py ICO...   exit 0 if every file is sound, 1 with the reasons if not

Each file must hold exactly the images the program expects, as classic BMP
images whose headers agree with the directory, whose AND mask hides the
corners (and only black there, or the screen would be inverted), whose
alpha agrees with the mask, and whose shield is the right colour: a green
icon that came out red would tell the user the opposite of the truth.
"""
import colorsys
import os
import struct
import sys

FULL = [(16, 8), (16, 32), (32, 8), (32, 24), (48, 8), (48, 32)]
TRAY = [(16, 8), (16, 32), (32, 8), (32, 24)]
EXPECTED = {
    "main.ico": ("green", FULL),
    "main_alt.ico": ("red", FULL),
    "tray_on.ico": ("green", TRAY),
    "tray_off.ico": ("red", TRAY),
}


def hue_name(r, g, b):
    h, s, v = colorsys.rgb_to_hsv(r / 255, g / 255, b / 255)
    if s < 0.4 or v < 0.3:
        return None
    h *= 360
    return "green" if 80 <= h <= 160 else "red" if h <= 20 or h >= 340 else None


def decode(data, size, bpp):
    """Pixels top-down as (r, g, b, alpha, masked); raises ValueError."""
    (hsize, width, height, planes, bits, compression, image_size,
     _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", data)
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        raise ValueError("is PNG, which Windows XP cannot read")
    if hsize != 40:
        raise ValueError("header size %d, not 40" % hsize)
    if (width, height, planes, bits) != (size, 2 * size, 1, bpp):
        raise ValueError("header says width %d, height %d, %d plane(s), %d-bit; "
                         "expected %d, %d, 1, %d" % (width, height, planes, bits,
                                                     size, 2 * size, bpp))
    if compression != 0:
        raise ValueError("compression %d, not BI_RGB" % compression)
    colours = (used or 256) if bpp == 8 else 0
    if colours > 256:
        raise ValueError("%d palette entries" % colours)
    stride = (size * bpp + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    xor_at = 40 + 4 * colours
    mask_at = xor_at + stride * size
    if image_size not in (0, (stride + mask_stride) * size):
        raise ValueError("biSizeImage %d, not %d" % (image_size, (stride + mask_stride) * size))
    if len(data) != mask_at + mask_stride * size:
        raise ValueError("%d bytes, but header, palette, colour rows and mask make %d"
                         % (len(data), mask_at + mask_stride * size))
    palette = [data[40 + 4 * k:43 + 4 * k][::-1] for k in range(colours)]
    rows = []
    for y in range(size - 1, -1, -1):
        row, line = [], data[xor_at + y * stride:]
        mask = int.from_bytes(data[mask_at + y * mask_stride:][:mask_stride], "big")
        for x in range(size):
            masked = mask >> (8 * mask_stride - 1 - x) & 1
            if bpp == 8:
                if line[x] >= colours:
                    raise ValueError("palette index %d of %d" % (line[x], colours))
                r, g, b, a = *palette[line[x]], 255
            else:
                b, g, r = line[x * bpp // 8:][:3]
                a = line[x * 4 + 3] if bpp == 32 else 255
            row.append((r, g, b, a, masked))
        rows.append(row)
    return rows


def check_image(rows, bpp, colour):
    problems = []
    r, g, b, a, masked = rows[0][0]
    if not masked or (bpp == 32 and a):
        problems.append("top-left corner is not transparent")
    bad_mask = sum(1 for row in rows for r, g, b, a, m in row
                   if m and (r, g, b) != (0, 0, 0) or bpp == 32 and m != (a == 0))
    if bad_mask:
        what = "alpha disagrees with the mask" if bpp == 32 else "masked pixels are not black"
        problems.append("%s at %d pixel(s)" % (what, bad_mask))
    opaque = [p for row in rows for p in row if not p[4]]
    hues = [hue_name(*p[:3]) for p in opaque]
    other = "red" if colour == "green" else "green"
    if not opaque or hues.count(colour) < max(len(opaque) // 4, 2 * hues.count(other)):
        problems.append("shield is not mostly %s (%d %s, %d %s of %d opaque pixels)"
                        % (colour, hues.count(colour), colour, hues.count(other), other, len(opaque)))
    if sum(1 for p in opaque if min(p[:3]) >= 230) < len(opaque) // 20:
        problems.append("hardly any white: the check mark or cross is missing")
    return problems


def check_file(path):
    name = os.path.basename(path)
    if name not in EXPECTED:
        return ["no expectations for a file named %s" % name]
    colour, formats = EXPECTED[name]
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        return [str(e)]
    if len(data) < 6 or struct.unpack_from("<HH", data) != (0, 1):
        return ["not an icon file (no ICONDIR with type 1)"]
    count = struct.unpack_from("<H", data, 4)[0]
    entries = [struct.unpack_from("<BBBBHHII", data, 6 + 16 * k) for k in range(count)]
    found = [(w or 256, bits) for w, h, c, res, planes, bits, size, offset in entries]
    if found != formats:
        return ["holds %s, expected %s (size, bits) in this order" % (found, formats)]
    problems, end = [], 6 + 16 * count
    for k, (w, h, colours, res, planes, bits, size, offset) in enumerate(entries):
        where = "image %d (%dx%d, %d-bit): " % (k, w, w, bits)
        if h != w or colours != 0 or res != 0 or planes != 1:
            problems.append(where + "directory entry has height %d, %d colours, reserved %d, "
                            "%d planes" % (h, colours, res, planes))
        if offset < end or offset + size > len(data):
            return problems + [where + "data at %d+%d overlaps or runs past the file"
                               % (offset, size)]
        end = offset + size
        try:
            rows = decode(data[offset:end], w, bits)
        except (ValueError, struct.error) as e:
            problems.append(where + str(e))
            continue
        problems += [where + p for p in check_image(rows, bits, colour)]
    if end != len(data):
        problems.append("%d stray bytes after the last image" % (len(data) - end))
    return problems


def main(paths):
    if not paths:
        sys.exit("usage: check_icons.py ICO...")
    failed = False
    for path in paths:
        problems = check_file(path)
        for p in problems:
            print("check_icons: %s: %s" % (path, p), file=sys.stderr)
        failed = failed or bool(problems)
    if failed:
        sys.exit(1)
    print("check_icons: %d file(s) ok" % len(paths))


if __name__ == "__main__":
    main(sys.argv[1:])

#!/usr/bin/env python3
"""Draws Halvotren's icons into OUTDIR: a shield, green with a check mark
while the firewall is on, red with a cross while it is off.

  make_icons.py OUTDIR   writes main.ico, main_alt.ico, tray_on.ico, tray_off.ico,
                         and icons.rc, which binds them into the program

The tray icons' images are the program icons' 16- and 32-pixel ones (the
tray asks for the small-icon size, 16 pixels at 96 DPI and up to 32 on a
display scaled to 200%), byte for byte,
so the resources hold each image once: icons.rc names every image as an icon
resource of its own (type 3) and every icon as a group (type 14) that points
at its images by number, as a resource compiler would, except that the tray
groups point at the program icons' images instead of copies.

Every image is a classic BMP (no PNG) so Windows XP reads them all, and a
256-colour twin sits beside each true-colour image for displays that cannot
show more. The output is the same bytes on every run: nothing here depends
on time, randomness or dictionary order.
"""
import math
import os
import struct
import sys

# The shape is laid out on a 16-pixel grid so that its straight edges fall
# on pixel boundaries at 16 px and at every multiple of it.
CX, TOP, HALF_WIDTH, MID, TIP, CORNER = 8.0, 1.0, 7.0, 6.5, 16.0, 1.75
# Radius of the two arcs that run from the straight sides to the point.
ARC = ((TIP - MID) ** 2 + HALF_WIDTH ** 2) / (2 * HALF_WIDTH)

# The strokes run at 45 degrees through pixel centres, which at 16 px gives
# a clean two-pixel-wide staircase instead of a smeared line.
CHECK = ((3.5, 7.5), (6.5, 10.5), (11.5, 5.5))
CROSS = (((5.0, 4.5), (11.0, 10.5)), ((11.0, 4.5), (5.0, 10.5)))

SUPERSAMPLE = 4
WHITE = (255, 255, 255)

SCHEMES = {
    "green": dict(light=(0x3D, 0xC4, 0x58), dark=(0x16, 0x8A, 0x2E),
                  outline=(0x0A, 0x4D, 0x19)),
    "red": dict(light=(0xEC, 0x4E, 0x4A), dark=(0xBC, 0x22, 0x22),
                outline=(0x6E, 0x0E, 0x0E)),
}

# (file, scheme, glyph, [(size, bits per pixel), ...]) in the order written.
# Windows chooses among the images by size and by the display's colour
# depth, never by their position in the file.
PROGRAM = [(16, 8), (16, 32), (32, 8), (32, 24), (48, 8), (48, 32)]
TRAY = [(16, 8), (16, 32), (32, 8), (32, 24)]
ICONS = [
    ("main.ico", "green", "check", PROGRAM),
    ("main_alt.ico", "red", "cross", PROGRAM),
    ("tray_on.ico", "green", "check", TRAY),
    ("tray_off.ico", "red", "cross", TRAY),
]


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def in_shield(x, y, inset):
    """Inside the shield shrunk by `inset`; shrinking the arcs and corners
    about their own centres keeps the outline an even width all round."""
    dx = abs(x - CX)
    if y < TOP + inset:
        return False
    if y <= MID:
        if dx > HALF_WIDTH - inset:
            return False
        ccx, ccy, r = HALF_WIDTH - CORNER, TOP + CORNER, CORNER - inset
        if dx > ccx and y < ccy and r > 0:
            return (dx - ccx) ** 2 + (y - ccy) ** 2 <= r * r
        return True
    return (dx + ARC - HALF_WIDTH) ** 2 + (y - MID) ** 2 <= (ARC - inset) ** 2


def on_stroke(x, y, a, b, half, ext_a=0.0):
    """On a butt-ended stroke from a to b, lengthened by ext_a before a so
    that two strokes meeting at a right angle close into a square corner."""
    ux, uy = b[0] - a[0], b[1] - a[1]
    length = math.sqrt(ux * ux + uy * uy)
    ux, uy = ux / length, uy / length
    along = (x - a[0]) * ux + (y - a[1]) * uy
    across = abs((x - a[0]) * uy - (y - a[1]) * ux)
    return -ext_a <= along <= length and across <= half


def on_glyph(glyph, x, y, half):
    if glyph == "check":
        left, corner, right = CHECK
        return (on_stroke(x, y, corner, left, half, half)
                or on_stroke(x, y, corner, right, half, half))
    return any(on_stroke(x, y, a, b, half) for a, b in CROSS)


def render(size, scheme, glyph):
    """Rows of (r, g, b, coverage): the colour averaged over the samples that
    fall inside the shield, and how many of SUPERSAMPLE**2 samples did."""
    colours = SCHEMES[scheme]
    unit = size / 16.0
    outline = max(1, round(size / 20)) / unit
    bevel = outline + 1 / unit if size >= 32 else None
    half = (2.0 if size == 16 else 0.11 * size) / unit / 2
    rows = []
    for j in range(size):
        row = []
        for i in range(size):
            total, count = [0.0, 0.0, 0.0], 0
            # At 16 px a stroke pixel is all white or not at all: a smudged
            # edge there is as wide as the stroke itself.
            white_pixel = size <= 16 and on_glyph(glyph, (i + 0.5) / unit, (j + 0.5) / unit, half)
            for sj in range(SUPERSAMPLE):
                for si in range(SUPERSAMPLE):
                    x = (i + (si + 0.5) / SUPERSAMPLE) / unit
                    y = (j + (sj + 0.5) / SUPERSAMPLE) / unit
                    if not in_shield(x, y, 0):
                        continue
                    if white_pixel or size > 16 and on_glyph(glyph, x, y, half):
                        c = WHITE
                    elif not in_shield(x, y, outline):
                        c = colours["outline"]
                    else:
                        c = mix(colours["light"], colours["dark"], (y - TOP) / (TIP - TOP))
                        if x >= CX:  # the right half in shade gives the face depth
                            c = mix(c, colours["outline"], 0.22)
                        if bevel and not in_shield(x, y, bevel):
                            c = mix(c, WHITE, 0.3)
                    count += 1
                    total = [t + v for t, v in zip(total, c)]
            rgb = tuple(int(t / count + 0.5) for t in total) if count else (0, 0, 0)
            row.append(rgb + (count,))
        rows.append(row)
    return rows


def palette_for(scheme):
    """A small fixed palette: index 0 is black, the colour masked pixels
    must carry so the screen shows through unchanged."""
    c = SCHEMES[scheme]
    lit = [mix(c["light"], c["dark"], k / 11) for k in range(12)]
    shaded = [mix(s, c["outline"], 0.22) for s in lit]
    colours = [(0, 0, 0), WHITE, c["outline"]] + lit + shaded
    for s in lit[1::3] + shaded[1::3]:
        colours += [mix(s, WHITE, 0.3), mix(s, WHITE, 0.65), mix(s, c["outline"], 0.5)]
    return [tuple(int(v + 0.5) for v in col) for col in colours]


def nearest(palette, rgb):
    return min(range(1, len(palette)),
               key=lambda k: sum((p - v) ** 2 for p, v in zip(palette[k], rgb)))


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def encode(rows, bpp, scheme):
    """One icon image: BITMAPINFOHEADER (height doubled for the mask),
    palette, colour rows and AND-mask rows, all bottom-up."""
    size, full = len(rows), SUPERSAMPLE ** 2
    palette = palette_for(scheme) if bpp == 8 else []
    xor, mask = b"", b""
    for row in reversed(rows):
        line, bits = bytearray(), 0
        for r, g, b, count in row:
            if bpp == 32:
                # Alpha carries the edge; the mask hides only what alpha
                # hides completely, so mask-only drawing shows the whole shape.
                clear = count == 0
                line += bytes((b, g, r, (count * 255 + full // 2) // full))
            else:
                clear = 2 * count < full
                if bpp == 24:
                    line += bytes((0, 0, 0) if clear else (b, g, r))
                else:
                    line.append(0 if clear else nearest(palette, (r, g, b)))
            bits = bits << 1 | clear
        xor += pad4(bytes(line))
        mask += pad4(bits.to_bytes(size // 8, "big"))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    colours += b"\0" * (4 * 256 - len(colours)) if bpp == 8 else b""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + colours + xor + mask


def ico(images):
    """images: [(size, bpp, data)] -> the bytes of an .ico file."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bpp, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def group(images):
    """images: [(size, bpp, data, resource number)] -> an icon group
    resource: the .ico directory with resource numbers for file offsets."""
    out = struct.pack("<HHH", 0, 1, len(images))
    for size, bpp, data, number in images:
        out += struct.pack("<BBBBHHIH", size % 256, size % 256, 0, 0, 1, bpp, len(data), number)
    return out


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 2:
        sys.exit("usage: make_icons.py OUTDIR")
    folder = argv[1]
    os.makedirs(folder, exist_ok=True)
    rendered, numbered = {}, {}
    script = ["// Made by res/icons/make_icons.py: each image once, then the groups."]
    groups = []
    for group_id, (name, scheme, glyph, formats) in enumerate(ICONS, start=101):
        images = []
        for size, bpp in formats:
            key = (size, scheme, glyph)
            if key not in rendered:
                rendered[key] = render(size, scheme, glyph)
            data = encode(rendered[key], bpp, scheme)
            if data not in numbered:
                numbered[data] = len(numbered) + 1
                image = "image%d.bin" % numbered[data]
                write(folder, image, data)
                script.append('%d 3 "icons/%s"' % (numbered[data], image))
            images.append((size, bpp, data, numbered[data]))
        write(folder, name, ico([image[:3] for image in images]))
        grp = name.replace(".ico", ".grp")
        write(folder, grp, group(images))
        groups.append('%d 14 "icons/%s"' % (group_id, grp))
    with open(os.path.join(folder, "icons.rc"), "w") as f:
        f.write("\n".join(script + groups) + "\n")


if __name__ == "__main__":
    main(sys.argv)

#!/usr/bin/env python3
"""Draws the launcher's icon, src/resources/tovin.ico: an orange disc on a brown one,
at 16, 24, 32, 48 and 256 pixels. The small sizes are 32-bit bitmaps, the large one a
PNG, as Windows expects. The output depends on nothing but this file.
    python3 scripts/make-icon.py [OUT.ico]"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
BROWN = (140, 60, 30)
ORANGE = (250, 170, 40)
OUTER = 15 / 32  # radii as shares of the side
INNER = 8 / 32
SAMPLES = 4  # per axis: edges are blended, not stair-stepped


def pixels(side):
    """Rows top to bottom of (r, g, b, a)."""
    rows = []
    centre = side / 2
    for y in range(side):
        row = []
        for x in range(side):
            outer = inner = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    dx = (x + (sx + 0.5) / SAMPLES - centre) / side
                    dy = (y + (sy + 0.5) / SAMPLES - centre) / side
                    d = dx * dx + dy * dy
                    outer += d <= OUTER * OUTER
                    inner += d <= INNER * INNER
            n = SAMPLES * SAMPLES
            if outer == 0:
                row.append((0, 0, 0, 0))
                continue
            t = inner / outer  # orange's share of what is covered
            colour = tuple(round(b + (o - b) * t) for b, o in zip(BROWN, ORANGE))
            row.append(colour + (round(255 * outer / n),))
        rows.append(row)
    return rows


def bitmap(side, rows):
    header = struct.pack("<IiiHHIIiiII", 40, side, side * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = ((side + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def png(side, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "src/resources/tovin.ico"
    images = []
    for side in SIZES:
        rows = pixels(side)
        images.append((side, png(side, rows) if side >= 256 else bitmap(side, rows)))
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for side, image in images:
        data += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data += b"".join(image for _, image in images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()

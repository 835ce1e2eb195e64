#!/usr/bin/env python3
"""Writes deterministic stand-ins for the seven payload files.

usage: make_standins.py [--table FILE] FOLDER

The stand-ins have the names, exact sizes and kinds the build expects (see
validate_payloads.py): a 32-bit .NET DLL for each version of the table of
versions (default: versions.def beside this file), carrying its label,
and two 1296 x 759 RGBA PNG pictures. The same input gives the same bytes on
every machine: the PNG data is deflated here, not by the zlib library.
"""

import hashlib
import struct
import sys
import zlib
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))
import validate_payloads as payloads  # noqa: E402

# ---------------------------------------------------------------------------
# Assemblies

FILE_ALIGNMENT = 0x200
SECTION_ALIGNMENT = 0x2000
TEXT_RVA = 0x2000
PE_OFFSET = 0x80
IMAGE_BASE = 0x10000000
TIME_STAMP = 0x5E0BE100  # fixed, so that the output is reproducible

DOS_STUB = (bytes.fromhex("0E1FBA0E00B409CD21B8014CCD21")
            + b"This program cannot be run in DOS mode.\r\r\n$")


def align(value, to):
    return (value + to - 1) // to * to


def metadata_root(label):
    """A metadata root with an empty table stream and a string heap."""
    version = b"v4.0.30319".ljust(12, b"\0")
    strings = b"\0Assembly-CSharp\0" + f"Thistlegarden stand-in assembly {label}\0".encode()
    strings = strings.ljust(align(len(strings), 4), b"\0")
    tables = struct.pack("<IBBBBQQ", 0, 2, 0, 0, 1, 0, 0)
    names = [b"#~".ljust(4, b"\0"), b"#Strings".ljust(12, b"\0")]
    header_size = 16 + len(version) + 4 + sum(8 + len(n) for n in names)
    head = struct.pack("<IHHII", 0x424A5342, 1, 1, 0, len(version)) + version
    head += struct.pack("<HH", 0, len(names))
    head += struct.pack("<II", header_size, len(tables)) + names[0]
    head += struct.pack("<II", header_size + len(tables), len(strings)) + names[1]
    assert len(head) == header_size
    return head + tables + strings


def assembly(label, size):
    """A 32-bit PE DLL of exactly `size` bytes with a CLI header and metadata."""
    assert size % FILE_ALIGNMENT == 0 and size > FILE_ALIGNMENT
    raw_size = size - FILE_ALIGNMENT
    image_size = align(TEXT_RVA + raw_size, SECTION_ALIGNMENT)

    metadata = metadata_root(label)
    metadata_offset = 0x50
    cli = struct.pack("<IHHIIII", 72, 2, 5, TEXT_RVA + metadata_offset, len(metadata), 1, 0)
    cli = cli.ljust(72, b"\0")
    head = cli.ljust(metadata_offset, b"\0") + metadata
    # The rest of the section: bytes that differ from version to version and
    # from offset to offset, so that a misplaced or wrong payload shows.
    text = head + hashlib.shake_256(f"Assembly-CSharp {label}".encode()).digest(raw_size - len(head))

    dos = bytearray(PE_OFFSET)
    struct.pack_into("<2sHHHHHHHHHHHHH", dos, 0, b"MZ", 0x90, 3, 0, 4, 0, 0xFFFF, 0, 0xB8,
                     0, 0, 0, 0x40, 0)
    struct.pack_into("<I", dos, 0x3C, PE_OFFSET)
    dos[0x40:0x40 + len(DOS_STUB)] = DOS_STUB

    coff = struct.pack("<4sHHIIIHH", b"PE\0\0", 0x014C, 1, TIME_STAMP, 0, 0, 224,
                       0x2102)  # executable image, 32-bit machine, DLL
    optional = struct.pack(
        "<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII",
        0x10B, 11, 0, raw_size, 0, 0, 0, TEXT_RVA, 0,
        IMAGE_BASE, SECTION_ALIGNMENT, FILE_ALIGNMENT,
        4, 0, 0, 0, 4, 0, 0, image_size, FILE_ALIGNMENT, 0,
        3, 0x8540,  # console; dynamic base, NX, no SEH, terminal server aware
        0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    directories = bytearray(16 * 8)
    struct.pack_into("<II", directories, 8 * 14, TEXT_RVA, 72)
    section = struct.pack("<8sIIIIIIHHI", b".text", raw_size, TEXT_RVA, raw_size, FILE_ALIGNMENT,
                          0, 0, 0, 0, 0x60000020)  # code, execute, read

    headers = bytes(dos) + coff + optional + bytes(directories) + section
    data = headers.ljust(FILE_ALIGNMENT, b"\0") + text
    assert len(data) == size
    return data


# ---------------------------------------------------------------------------
# Images

WIDTH = payloads.IMAGE_WIDTH
HEIGHT = payloads.IMAGE_HEIGHT

GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "F": ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
}


class Canvas:
    def __init__(self, colour):
        self.pixels = bytearray(bytes(colour) * (WIDTH * HEIGHT))

    def rect(self, x0, y0, x1, y1, colour):
        x0, x1 = max(x0, 0), min(x1, WIDTH)
        span = bytes(colour) * (x1 - x0)
        for y in range(max(y0, 0), min(y1, HEIGHT)):
            start = (y * WIDTH + x0) * 4
            self.pixels[start:start + len(span)] = span

    def disc(self, cx, cy, radius, colour):
        for y in range(cy - radius, cy + radius):
            dy = y + 0.5 - cy
            half = int((radius * radius - dy * dy) ** 0.5 + 0.5)
            self.rect(cx - half, y, cx + half, y + 1, colour)

    def stroke(self, points, width, colour):
        for (xa, ya), (xb, yb) in zip(points, points[1:]):
            steps = max(abs(xb - xa), abs(yb - ya))
            for i in range(steps + 1):
                x = xa + (xb - xa) * i // steps
                y = ya + (yb - ya) * i // steps
                self.rect(x - width // 2, y - width // 2, x + width // 2, y + width // 2, colour)

    def text(self, x, y, word, scale, colour):
        for letter in word:
            for row, bits in enumerate(GLYPHS[letter]):
                for column, bit in enumerate(bits):
                    if bit == "1":
                        left, top = x + column * scale, y + row * scale
                        self.rect(left, top, left + scale, top + scale, colour)
            x += 6 * scale

    def scanlines(self):
        stride = WIDTH * 4
        return [b"\0" + bytes(self.pixels[y * stride:(y + 1) * stride]) for y in range(HEIGHT)]


def picture(after):
    """A patch comparison card: a title band and a panel with a mark."""
    background = (238, 241, 245, 255)
    band = (46, 139, 87, 255) if after else (112, 120, 134, 255)
    canvas = Canvas(background)
    canvas.rect(0, 0, WIDTH, 132, band)
    word = "AFTER" if after else "BEFORE"
    scale = 12
    canvas.text((WIDTH - (len(word) * 6 - 1) * scale) // 2, 24, word, scale, (255, 255, 255, 255))
    canvas.rect(156, 198, 1148, 706, (0, 0, 0, 48))  # soft shadow
    canvas.rect(148, 190, 1140, 698, (204, 209, 216, 255))
    canvas.rect(152, 194, 1136, 694, (255, 255, 255, 255))
    if after:
        canvas.disc(644, 444, 190, band)
        canvas.stroke([(548, 452), (620, 524), (752, 376)], 40, (255, 255, 255, 255))
    else:
        canvas.disc(644, 444, 190, (176, 181, 190, 255))
        canvas.stroke([(564, 364), (724, 524)], 40, (255, 255, 255, 255))
        canvas.stroke([(724, 364), (564, 524)], 40, (255, 255, 255, 255))
    return canvas.scanlines()


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.value = 0
        self.count = 0

    def bits(self, value, count):
        self.value |= value << self.count
        self.count += count
        while self.count >= 8:
            self.out.append(self.value & 0xFF)
            self.value >>= 8
            self.count -= 8

    def code(self, code, count):  # Huffman codes go most significant bit first
        self.bits(int(f"{code:0{count}b}"[::-1], 2), count)

    def finish(self):
        if self.count:
            self.out.append(self.value & 0xFF)
        return bytes(self.out)


LENGTH_BASES = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83,
                99, 115, 131, 163, 195, 227, 258]
LENGTH_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
DISTANCE_BASES = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769,
                  1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577]
DISTANCE_EXTRA = [0, 0, 0, 0] + [n for n in range(1, 14) for _ in (0, 1)]


def fixed_symbol(writer, symbol):
    if symbol < 144:
        writer.code(0x30 + symbol, 8)
    elif symbol < 256:
        writer.code(0x190 + symbol - 144, 9)
    elif symbol < 280:
        writer.code(symbol - 256, 7)
    else:
        writer.code(0xC0 + symbol - 280, 8)


def last_index(bases, value):
    index = 0
    while index + 1 < len(bases) and bases[index + 1] <= value:
        index += 1
    return index


def copy(writer, distance, length):
    """Repeats `length` bytes from `distance` back; `length` is 0 or at least 3."""
    while length:
        if length <= 258:
            take = length
        elif length - 258 < 3:
            take = length - 3
        else:
            take = 258
        code = last_index(LENGTH_BASES, take)
        fixed_symbol(writer, 257 + code)
        writer.bits(take - LENGTH_BASES[code], LENGTH_EXTRA[code])
        code = last_index(DISTANCE_BASES, distance)
        writer.code(code, 5)
        writer.bits(distance - DISTANCE_BASES[code], DISTANCE_EXTRA[code])
        length -= take


def deflate(scanlines):
    """One fixed-Huffman block: repeated rows and runs of pixels become copies."""
    writer = BitWriter()
    writer.bits(1, 1)  # final block
    writer.bits(1, 2)  # fixed codes
    previous = None
    for line in scanlines:
        if line == previous:
            copy(writer, len(line), len(line))
            continue
        previous = line
        fixed_symbol(writer, line[0])
        x = 1
        while x < len(line):
            pixel = line[x:x + 4]
            run = 1
            while x + 4 * run < len(line) and line[x + 4 * run:x + 4 * run + 4] == pixel:
                run += 1
            for byte in pixel:
                fixed_symbol(writer, byte)
            copy(writer, 4, 4 * (run - 1))
            x += 4 * run
    fixed_symbol(writer, 256)
    raw = b"".join(scanlines)
    return b"\x78\x01" + writer.finish() + struct.pack(">I", zlib.adler32(raw))


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def image(after, size):
    """A PNG of exactly `size` bytes; a private ancillary chunk takes up the rest."""
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)
    body = payloads.PNG_SIGNATURE + chunk(b"IHDR", header) + chunk(b"IDAT", deflate(picture(after)))
    end = chunk(b"IEND", b"")
    padding = size - len(body) - len(end) - 12
    assert padding >= 0, "picture does not fit"
    data = body + chunk(b"tgPd", bytes(padding)) + end
    assert len(data) == size
    return data


def main(argv):
    args = argv[1:]
    table = payloads.TABLE
    if args[:1] == ["--table"] and len(args) >= 2:
        table, args = args[1], args[2:]
    if len(args) != 1:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    folder = Path(args[0])
    folder.mkdir(parents=True, exist_ok=True)
    for name, label, kind, size in payloads.payload_files(table):
        if kind == payloads.ASSEMBLY:
            data = assembly(label, size)
        else:
            data = image(label == "after", size)
        (folder / name).write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Writes deterministic stand-ins for the seven payload files.

usage: make_standins.py [--table FILE] FOLDER

The stand-ins have the names, exact sizes and kinds the build expects (see
validate_payloads.py): a 32-bit .NET DLL for each version of the table of
versions (default: versions.def beside this file), carrying its label,
made from the IL of a shipped .NET assembly (see "Assemblies" below), and two
1296 x 759 RGBA PNG pictures. The same input gives the same bytes on every
machine: the PNG data is deflated here, not by the zlib library.
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
#
# Real IL and metadata, so that they compress as a game's script assembly
# does: mono's System.Xml.dll as Debian's libmono-system-xml4.0-cil ships it
# (checked by its SHA-256, so that a changed package stops the build
# plainly). Each version is an edit of the one before it in the table (the
# first, of the shipped assembly): changed methods (spans of its IL
# overwritten by IL from elsewhere in the assembly, a sixteenth of their
# bytes altered as tokens and offsets are), the metadata tables' references
# shifted here and there, and code added or removed before the metadata so
# that the file has the version's exact size. The headers are kept and fixed
# up (section sizes and offsets, the CLI header's metadata, the entry point
# and import directory), the metadata root names the version; the IL's own
# references are not kept: a stand-in is for embedding, never for loading.

FILE_ALIGNMENT = 0x200
COR20_HEADER_SIZE = payloads.COR20_HEADER_SIZE

IL_SOURCE = Path("/usr/lib/mono/4.5/System.Xml.dll")
IL_SOURCE_PACKAGE = "libmono-system-xml4.0-cil"
IL_SOURCE_SHA256 = "b43bf0c85f6c9f42834a807a69a61c1d97c91fec671cd7d50c1fcd0df19cb90a"

BLOCK = 4096
# Of the file's 4 KiB blocks, the part a version's changed methods touch.
CHANGED_BLOCKS = 0.06
# Of the metadata tables' 4-byte words, the part whose reference shifts.
SHIFTED_WORDS = 0.004


class Numbers:
    """Deterministic numbers from a seed (SHAKE-256), the same on every
    machine and Python version."""

    def __init__(self, seed):
        self.seed = seed.encode()
        self.pool = b""
        self.counter = 0

    def below(self, limit):
        while len(self.pool) < 8:
            self.pool += hashlib.shake_256(self.seed + self.counter.to_bytes(8, "little")).digest(4096)
            self.counter += 1
        value = int.from_bytes(self.pool[:8], "little")
        self.pool = self.pool[8:]
        return value % limit

    def bytes(self, count):
        self.counter += 1
        return hashlib.shake_256(self.seed + b"bytes" + self.counter.to_bytes(8, "little")).digest(count)


class IlSource:
    """The shipped assembly, split where the stand-ins edit it."""

    def __init__(self, data):
        self.data = data
        (pe,) = struct.unpack_from("<I", data, 0x3C)
        self.pe = pe
        self.optional = pe + 24
        sections, = struct.unpack_from("<H", data, pe + 6)
        optional_size, = struct.unpack_from("<H", data, pe + 20)
        self.table = self.optional + optional_size
        self.sections = [list(struct.unpack_from("<IIII", data, self.table + 40 * i + 8))
                         for i in range(sections)]  # virtual size, address, raw size, raw offset
        cli_rva, = struct.unpack_from("<I", data, self.optional + 96 + 8 * 14)
        _, address, raw_size, raw_offset = self.sections[0]
        assert address <= cli_rva < address + raw_size, "the CLI header is not in the first section"
        self.text_offset = raw_offset
        self.text_address = address
        self.cli = raw_offset + cli_rva - address
        self.meta_rva, self.meta_size = struct.unpack_from("<II", data, self.cli + 8)
        self.meta = raw_offset + self.meta_rva - address
        # IL lies between the CLI header and the metadata root.
        self.il_start = self.cli + COR20_HEADER_SIZE
        self.il_end = self.meta
        self.tables, self.tables_size, self.strings = self.streams()

    def streams(self):
        data, meta = self.data, self.meta
        (length,) = struct.unpack_from("<I", data, meta + 12)
        at = meta + 16 + length
        (count,) = struct.unpack_from("<H", data, at + 2)
        at += 4
        found = {}
        for _ in range(count):
            offset, size = struct.unpack_from("<II", data, at)
            name = data[at + 8:data.index(b"\0", at + 8)]
            found[name] = (meta + offset, size)
            at += 8 + (len(name) + 4) // 4 * 4
        return found[b"#~"][0], found[b"#~"][1], found[b"#Strings"][0]


def il_source():
    try:
        data = IL_SOURCE.read_bytes()
    except OSError as e:
        raise SystemExit(f"make_standins: {IL_SOURCE} cannot be read ({e.strerror}); the stand-in "
                         f"assemblies are made from it: install {IL_SOURCE_PACKAGE} (tools/setup.sh)")
    digest = hashlib.sha256(data).hexdigest()
    if digest != IL_SOURCE_SHA256:
        raise SystemExit(f"make_standins: {IL_SOURCE} has SHA-256 {digest}, not {IL_SOURCE_SHA256}: "
                         f"{IL_SOURCE_PACKAGE} changed, and stand-ins made from it would differ")
    return IlSource(data)


def changed_il(source, numbers, length):
    """IL from elsewhere in the assembly, a sixteenth of its bytes altered."""
    start = source.il_start + numbers.below(source.il_end - source.il_start - length)
    span = bytearray(source.data[start:start + length])
    noise = numbers.bytes(length)
    for i in range(0, length, 16):
        at = i + noise[i] % 16
        if at < length:
            span[at] = noise[at]
    return bytes(span)


def next_version(source, previous, label, size):
    """`previous` (the file of the version before, as a bytearray, with the
    end of its IL) edited into the version `label` of exactly `size` bytes."""
    data, il_end = previous
    data = bytearray(data)
    numbers = Numbers(f"Assembly-CSharp {label}")
    il_start = source.il_start
    # Changed methods.
    touched = set()
    goal = int(size / BLOCK * CHANGED_BLOCKS) + 1
    while len(touched) < goal:
        length = 256 + numbers.below(3840)
        at = il_start + numbers.below(il_end - il_start - length)
        data[at:at + length] = changed_il(source, numbers, length)
        touched.update(range(at // BLOCK, (at + length - 1) // BLOCK + 1))
    # References in the metadata tables shifted (tables after a change hold
    # new RVAs and row numbers).
    shift = il_end - source.il_end
    tables = source.tables + shift
    for _ in range(int(source.tables_size / 4 * SHIFTED_WORDS)):
        at = tables + 4 * numbers.below(source.tables_size // 4)
        (word,) = struct.unpack_from("<I", data, at)
        struct.pack_into("<I", data, at, (word + 1 + numbers.below(64)) & 0xFFFFFFFF)
    # Code added or removed before the metadata: the file gets its size.
    grow = size - len(data)
    at = il_start + numbers.below(il_end - il_start - max(-grow, 0))
    if grow > 0:
        data[at:at] = changed_il(source, numbers, grow)
    elif grow < 0:
        del data[at:at - grow]
    il_end += grow
    return data, il_end


def fixed_up(source, data, il_end, label):
    """The headers of an edited file made to describe it."""
    out = bytearray(data)
    shift = il_end - source.il_end
    # Sections: the first holds the IL and grew or shrank; those after it moved.
    for index, (virtual_size, address, raw_size, raw_offset) in enumerate(source.sections):
        entry = source.table + 40 * index + 8
        if index == 0:
            struct.pack_into("<II", out, entry, virtual_size + max(shift, 0), address)
            struct.pack_into("<I", out, entry + 8, raw_size + shift)
        else:
            struct.pack_into("<I", out, entry + 12, raw_offset + shift)
    struct.pack_into("<I", out, source.optional + 4, source.sections[0][2] + shift)  # size of code
    # What lies after the IL in the first section moved with the metadata.
    (entry_point,) = struct.unpack_from("<I", out, source.optional + 16)
    if entry_point > source.meta_rva:
        struct.pack_into("<I", out, source.optional + 16, entry_point + shift)
    for directory in range(16):
        at = source.optional + 96 + 8 * directory
        (rva,) = struct.unpack_from("<I", out, at)
        if source.meta_rva <= rva < source.text_address + source.sections[0][0]:
            struct.pack_into("<I", out, at, rva + shift)
    struct.pack_into("<I", out, source.cli + 8, source.meta_rva + shift)
    # The metadata root names the version, at the start of its string heap.
    name = f"Thistlegarden stand-in assembly {label}\0".encode()
    at = source.strings + shift + 1
    out[at:at + len(name)] = name
    return bytes(out)


def small_assembly(size=0x1000):
    """The shipped assembly's first `size` bytes, its section table cut to
    them: a small file the checker takes for an assembly."""
    source = il_source()
    out = bytearray(source.data[:size])
    for index, (_, _, _, raw_offset) in enumerate(source.sections):
        entry = source.table + 40 * index + 8
        kept = index == 0
        struct.pack_into("<II", out, entry + 8, size - raw_offset if kept else 0, raw_offset if kept else 0)
    return bytes(out)


def assemblies(versions):
    """{label: bytes} of the table's versions, each an edit of the one before."""
    source = il_source()
    made = {}
    state = (bytearray(source.data), source.il_end)
    for label, size in versions:
        assert size % FILE_ALIGNMENT == 0 and size > source.meta - source.il_start
        state = next_version(source, state, label, size)
        made[label] = fixed_up(source, state[0], state[1], label)
        assert len(made[label]) == size
    return made


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


def last_index(bases, value):
    index = 0
    while index + 1 < len(bases) and bases[index + 1] <= value:
        index += 1
    return index


def copy(tokens, distance, length):
    """Repeats `length` bytes from `distance` back; `length` is 0 or at least 3."""
    while length:
        if length <= 258:
            take = length
        elif length - 258 < 3:
            take = length - 3
        else:
            take = 258
        tokens.append((take, distance))
        length -= take


def tokens_of(scanlines):
    """Literal bytes and (length, distance) copies: a row the same as the one
    above is filtered to zeros ("Up"), and runs of pixels become copies."""
    tokens = []
    previous = None
    for line in scanlines:
        if line == previous:
            line = b"\2" + bytes(len(line) - 1)
        else:
            previous = line
        tokens.append(line[0])
        x = 1
        while x < len(line):
            pixel = line[x:x + 4]
            run = 1
            while x + 4 * run < len(line) and line[x + 4 * run:x + 4 * run + 4] == pixel:
                run += 1
            tokens.extend(pixel)
            copy(tokens, 4, 4 * (run - 1))
            x += 4 * run
    return tokens


def unfiltered_rows(tokens):
    """The bytes the tokens stand for (what the zlib stream's check covers)."""
    out = bytearray()
    for token in tokens:
        if isinstance(token, int):
            out.append(token)
        else:
            length, distance = token
            for _ in range(length):
                out.append(out[-distance])
    return bytes(out)


def code_lengths(counts, limit):
    """Huffman code lengths of at most `limit` bits for the symbols counted
    (at least two get one), the same on every machine: ties go by symbol."""
    counts = list(counts)
    if sum(1 for c in counts if c) < 2:
        for symbol in range(len(counts)):
            if not counts[symbol] and sum(1 for c in counts if c) < 2:
                counts[symbol] = 1
    while True:
        trees = sorted((count, symbol, [symbol]) for symbol, count in enumerate(counts) if count)
        lengths = [0] * len(counts)
        while len(trees) > 1:
            (a, first, left), (b, _, right) = trees[0], trees[1]
            for symbol in left + right:
                lengths[symbol] += 1
            trees = sorted(trees[2:] + [(a + b, first, left + right)])
        if max(lengths) <= limit:
            return lengths
        counts = [(c + 1) // 2 if c else 0 for c in counts]


def canonical(lengths):
    """The codes of canonical Huffman code lengths (RFC 1951, 3.2.2)."""
    codes, code = [0] * len(lengths), 0
    for bits in range(1, max(lengths) + 1):
        for symbol, length in enumerate(lengths):
            if length == bits:
                codes[symbol] = code
                code += 1
        code <<= 1
    return codes


CODE_LENGTH_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


def deflate(scanlines):
    """One block with codes made for it, so that what the picture repeats
    takes a bit or two and the stream, as a real PNG's, hardly compresses."""
    tokens = tokens_of(scanlines)
    literal_counts, distance_counts = [0] * 286, [0] * 30
    for token in tokens:
        if isinstance(token, int):
            literal_counts[token] += 1
        else:
            literal_counts[257 + last_index(LENGTH_BASES, token[0])] += 1
            distance_counts[last_index(DISTANCE_BASES, token[1])] += 1
    literal_counts[256] += 1
    literal_lengths = code_lengths(literal_counts, 15)
    distance_lengths = code_lengths(distance_counts, 15)
    literal_codes, distance_codes = canonical(literal_lengths), canonical(distance_lengths)
    all_lengths = literal_lengths + distance_lengths
    length_lengths = code_lengths([all_lengths.count(n) for n in range(19)], 7)
    length_codes = canonical(length_lengths)
    count = 19
    while length_lengths[CODE_LENGTH_ORDER[count - 1]] == 0:
        count -= 1

    writer = BitWriter()
    writer.bits(1, 1)  # final block
    writer.bits(2, 2)  # its own codes
    writer.bits(286 - 257, 5)
    writer.bits(30 - 1, 5)
    writer.bits(count - 4, 4)
    for symbol in CODE_LENGTH_ORDER[:count]:
        writer.bits(length_lengths[symbol], 3)
    for length in all_lengths:
        writer.code(length_codes[length], length_lengths[length])
    for token in tokens:
        if isinstance(token, int):
            writer.code(literal_codes[token], literal_lengths[token])
            continue
        length, distance = token
        code = last_index(LENGTH_BASES, length)
        writer.code(literal_codes[257 + code], literal_lengths[257 + code])
        writer.bits(length - LENGTH_BASES[code], LENGTH_EXTRA[code])
        code = last_index(DISTANCE_BASES, distance)
        writer.code(distance_codes[code], distance_lengths[code])
        writer.bits(distance - DISTANCE_BASES[code], DISTANCE_EXTRA[code])
    writer.code(literal_codes[256], literal_lengths[256])
    return b"\x78\x01" + writer.finish() + struct.pack(">I", zlib.adler32(unfiltered_rows(tokens)))


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def image(after, size):
    """A PNG of exactly `size` bytes; a private ancillary chunk takes up the
    rest, with bytes that do not compress, as a real picture's data does not."""
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)
    body = payloads.PNG_SIGNATURE + chunk(b"IHDR", header) + chunk(b"IDAT", deflate(picture(after)))
    end = chunk(b"IEND", b"")
    padding = size - len(body) - len(end) - 12
    assert padding >= 0, "picture does not fit"
    filler = hashlib.shake_256(b"before.png" if not after else b"after.png").digest(padding)
    data = body + chunk(b"tgPd", filler) + end
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
    files = payloads.payload_files(table)
    made = assemblies([(label, size) for _, label, kind, size in files if kind == payloads.ASSEMBLY])
    for name, label, kind, size in files:
        data = made[label] if kind == payloads.ASSEMBLY else image(label == "after", size)
        (folder / name).write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

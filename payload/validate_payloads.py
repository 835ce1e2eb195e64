#!/usr/bin/env python3
"""Checks a folder of payload files before the build embeds them.

usage: validate_payloads.py [--table FILE] FOLDER [--stamp FILE]
       validate_payloads.py [--table FILE] --blob-bytes

Every file must be present, of its exact size and of the right kind. Each
problem is reported on its own line naming the file; the exit status is 1 when
there is any. With --stamp, FILE is written when all is well. The assemblies
are those of the table of versions (default: versions.def beside this file).
--blob-bytes prints how many bytes the payloads take stored as they are,
headers included (pack_payloads.py packs them and counts what is embedded).
"""

import re
import struct
import sys
import zlib
from pathlib import Path

ASSEMBLY = "assembly"
IMAGE = "image"

TABLE = Path(__file__).resolve().parent / "versions.def"
ROW = re.compile(r'^\s*TG_VERSION\(([0-9A-Za-z_]+), *"([^"\\]+)", *([0-9]+), *([0-9]+), '
                 r'*"([^"\\/]+)", *([0-9]+)\)\s*$')

IMAGES = [
    ("before.png", "before", IMAGE, 407_011),
    ("after.png", "after", IMAGE, 462_645),
]
BLOB_HEADER = 8


def read_versions(table=TABLE):
    """[(label, [size codes], payload file, payload bytes)] of the table of
    versions, in its order; ValueError naming a row that cannot be read."""
    versions = []
    for line in Path(table).read_text(encoding="utf-8").splitlines():
        if not line.lstrip().startswith("TG_VERSION"):
            continue
        match = ROW.match(line)
        if not match or match[1].replace("_", ".") != match[2]:
            raise ValueError(f"{table}: a row that cannot be read: {line.strip()}")
        symbol, label, code, other, name, size = match.groups()
        codes = [int(code)] + ([int(other)] if int(other) else [])
        versions.append((label, codes, name, int(size)))
    if not versions:
        raise ValueError(f"{table}: no versions")
    return versions


def payload_files(table=TABLE):
    """(file name, label or role, kind, exact size) of every payload, in the
    order they are embedded: the table's assemblies, then the images."""
    return [(name, label, ASSEMBLY, size) for label, _, name, size in read_versions(table)] + IMAGES


def blob_bytes(table=TABLE):
    """The bytes the embedded payloads take, headers included."""
    return sum(BLOB_HEADER + size for _, _, _, size in payload_files(table))


FILES = payload_files()

IMAGE_WIDTH = 1296
IMAGE_HEIGHT = 759

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_DLL = 0x2000
PE32_MAGIC = 0x10B
COM_DESCRIPTOR_DIRECTORY = 14
COR20_HEADER_SIZE = 72


def assembly_problems(data):
    """What keeps `data` from being a 32-bit PE DLL with a .NET runtime header."""
    if data[:2] != b"MZ":
        return ["no MZ header"]
    if len(data) < 0x40:
        return ["truncated DOS header"]
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if pe_offset + 24 > len(data) or data[pe_offset:pe_offset + 4] != b"PE\0\0":
        return ["no PE signature"]
    machine, sections, _, _, _, optional_size, characteristics = struct.unpack_from(
        "<HHIIIHH", data, pe_offset + 4)
    problems = []
    if machine != IMAGE_FILE_MACHINE_I386:
        problems.append(f"machine 0x{machine:04X}, not i386 (0x014C)")
    if not characteristics & IMAGE_FILE_DLL:
        problems.append("not a DLL (IMAGE_FILE_DLL not set)")
    optional = pe_offset + 24
    if optional + 2 > len(data):
        return problems + ["truncated optional header"]
    (magic,) = struct.unpack_from("<H", data, optional)
    if magic != PE32_MAGIC:
        return problems + [f"optional header magic 0x{magic:03X}, not PE32 (0x10B)"]
    if optional_size < 96 + 8 * (COM_DESCRIPTOR_DIRECTORY + 1) or optional + optional_size > len(data):
        return problems + ["optional header too small for a COM descriptor directory"]
    (directories,) = struct.unpack_from("<I", data, optional + 92)
    if directories <= COM_DESCRIPTOR_DIRECTORY:
        return problems + ["no COM descriptor directory (not a .NET assembly)"]
    rva, size = struct.unpack_from("<II", data, optional + 96 + 8 * COM_DESCRIPTOR_DIRECTORY)
    if rva == 0 or size == 0:
        return problems + ["empty COM descriptor directory (not a .NET assembly)"]
    table = optional + optional_size
    if table + 40 * sections > len(data):
        return problems + ["truncated section table"]
    for index in range(sections):
        _, virtual_size, address, raw_size, raw_offset = struct.unpack_from(
            "<8sIIII", data, table + 40 * index)
        if address <= rva < address + max(virtual_size, raw_size) and rva - address + 4 <= raw_size:
            offset = raw_offset + rva - address
            if offset + 4 > len(data):
                break
            (cb,) = struct.unpack_from("<I", data, offset)
            if cb != COR20_HEADER_SIZE:
                problems.append(f"CLI header size {cb}, not {COR20_HEADER_SIZE}")
            return problems
    return problems + ["COM descriptor lies outside every section"]


def image_problems(data):
    """What keeps `data` from being a 1296 x 759 8-bit RGBA PNG."""
    if data[:8] != PNG_SIGNATURE:
        return ["no PNG signature"]
    if len(data) < 33:
        return ["truncated IHDR"]
    length, kind = struct.unpack_from(">I4s", data, 8)
    if kind != b"IHDR" or length != 13:
        return ["first chunk is not a 13-byte IHDR"]
    if zlib.crc32(data[12:29]) != struct.unpack_from(">I", data, 29)[0]:
        return ["IHDR CRC mismatch"]
    width, height, depth, colour = struct.unpack_from(">IIBB", data, 16)
    problems = []
    if (width, height) != (IMAGE_WIDTH, IMAGE_HEIGHT):
        problems.append(f"{width} x {height} pixels, not {IMAGE_WIDTH} x {IMAGE_HEIGHT}")
    if depth != 8:
        problems.append(f"bit depth {depth}, not 8")
    if colour != 6:
        problems.append(f"colour type {colour}, not 6 (RGBA)")
    return problems


def problems_in(folder, files=None):
    """Every problem of the payload files in `folder`, as 'name: what' lines."""
    folder = Path(folder)
    found = []
    for name, _, kind, size in files or FILES:
        path = folder / name
        if not path.is_file():
            found.append(f"{name}: missing from {folder}")
            continue
        data = path.read_bytes()
        if len(data) != size:
            found.append(f"{name}: {len(data):,} bytes, expected exactly {size:,}")
        check = assembly_problems if kind == ASSEMBLY else image_problems
        found.extend(f"{name}: {problem}" for problem in check(data))
    return found


def main(argv):
    args = argv[1:]
    table = TABLE
    if args[:1] == ["--table"] and len(args) >= 2:
        table, args = args[1], args[2:]
    try:
        files = payload_files(table)
    except (OSError, ValueError) as e:
        print(f"payload check failed: {e}", file=sys.stderr)
        return 1
    if args == ["--blob-bytes"]:
        print(blob_bytes(table))
        return 0
    stamp = None
    if len(args) == 3 and args[1] == "--stamp":
        stamp = args[2]
        args = args[:1]
    if len(args) != 1:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    found = problems_in(args[0], files)
    if found:
        print(f"payload check failed for {Path(args[0]).resolve()}:", file=sys.stderr)
        for line in found:
            print(f"  {line}", file=sys.stderr)
        return 1
    if stamp:
        Path(stamp).write_text("ok\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

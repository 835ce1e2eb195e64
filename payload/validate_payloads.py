#!/usr/bin/env python3
"""Checks a folder of payload files before the build embeds them.

usage: validate_payloads.py FOLDER [--stamp FILE]

Every file must be present, of its exact size and of the right kind. Each
problem is reported on its own line naming the file; the exit status is 1 when
there is any. With --stamp, FILE is written when all is well.
"""

import struct
import sys
import zlib
from pathlib import Path

ASSEMBLY = "assembly"
IMAGE = "image"

# (file name, label or role, kind, exact size)
FILES = [
    ("Assembly-CSharp-0.24g.dll", "0.24g", ASSEMBLY, 2_904_064),
    ("Assembly-CSharp-0.25a.dll", "0.25a", ASSEMBLY, 3_215_360),
    ("Assembly-CSharp-0.25b.dll", "0.25b", ASSEMBLY, 3_228_160),
    ("Assembly-CSharp-0.25c.dll", "0.25c", ASSEMBLY, 3_240_448),
    ("Assembly-CSharp-0.25e.dll", "0.25e", ASSEMBLY, 3_256_832),
    ("before.png", "before", IMAGE, 407_011),
    ("after.png", "after", IMAGE, 462_645),
]

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


def problems_in(folder):
    """Every problem of the payload files in `folder`, as 'name: what' lines."""
    folder = Path(folder)
    found = []
    for name, _, kind, size in FILES:
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
    stamp = None
    if len(args) == 3 and args[1] == "--stamp":
        stamp = args[2]
        args = args[:1]
    if len(args) != 1:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    found = problems_in(args[0])
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

#!/usr/bin/env python3
"""Mutation fuzz of payload/validate_payloads.py.

usage: payload_validator_fuzz.py [--seconds N] [--seed N] [--findings DIR]

Mutates a valid stand-in assembly and image and checks that the validator
never raises, reports problems as text, and accepts a file only when an
independent check finds it of the exact kind. Each input that breaks a
property is written to DIR (default: the current folder). Exit status 1 when
there was any.
"""

import argparse
import io
import random
import struct
import sys
import tempfile
import time
import zlib
from contextlib import redirect_stderr
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.dont_write_bytecode = True
sys.path.insert(0, str(ROOT / "payload"))
import make_standins  # noqa: E402
import validate_payloads as vp  # noqa: E402


def png(width=vp.IMAGE_WIDTH, height=vp.IMAGE_HEIGHT, depth=8, colour=6):
    ihdr = b"IHDR" + struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)
    idat = b"IDAT" + zlib.compress(b"\0" * 16)
    chunk = lambda body: struct.pack(">I", len(body) - 4) + body + struct.pack(">I", zlib.crc32(body))
    return vp.PNG_SIGNATURE + chunk(ihdr) + chunk(idat) + chunk(b"IEND")


def is_assembly(data):
    """Independent reading: i386 PE32 DLL whose CLI header (72 bytes) a section holds."""
    u16 = lambda at: int.from_bytes(data[at:at + 2], "little") if at + 2 <= len(data) else None
    u32 = lambda at: int.from_bytes(data[at:at + 4], "little") if at + 4 <= len(data) else None
    pe = u32(0x3C)
    if data[:2] != b"MZ" or pe is None or data[pe:pe + 4] != b"PE\0\0":
        return False
    sections, optional_size, flags = u16(pe + 6), u16(pe + 20), u16(pe + 22)
    optional = pe + 24
    if u16(pe + 4) != 0x14C or flags is None or not flags & 0x2000 or u16(optional) != 0x10B:
        return False
    if optional + optional_size > len(data) or optional_size < 96 + 8 * 15 or u32(optional + 92) < 15:
        return False
    rva, size = u32(optional + 96 + 8 * 14), u32(optional + 100 + 8 * 14)
    if not rva or not size:
        return False
    table = optional + optional_size
    if table + 40 * sections > len(data):
        return False
    for i in range(sections):
        entry = table + 40 * i
        virtual, address, raw, offset = (u32(entry + 8), u32(entry + 12), u32(entry + 16), u32(entry + 20))
        if address <= rva < address + max(virtual, raw) and rva - address + 4 <= raw:
            return u32(offset + rva - address) == 72
    return False


def is_image(data):
    if data[:8] != vp.PNG_SIGNATURE or len(data) < 33 or data[12:16] != b"IHDR":
        return False
    if struct.unpack(">I", data[8:12])[0] != 13 or zlib.crc32(data[12:29]) != struct.unpack(">I", data[29:33])[0]:
        return False
    return struct.unpack(">IIBB", data[16:26]) == (vp.IMAGE_WIDTH, vp.IMAGE_HEIGHT, 8, 6)


INTERESTING = [0, 1, 0x7F, 0x80, 0xFF, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 13, 72, 0x14C, 0x10B]


def mutate(rng, data, fields):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        choice = rng.randrange(7)
        if choice == 0 and data:
            data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
        elif choice == 1 and data:
            data[rng.randrange(len(data))] = rng.choice([0, 0xFF, 0x7F, 0x80])
        elif choice == 2:
            del data[rng.randrange(len(data) + 1):]
        elif choice == 3:
            data += bytes(rng.randrange(256) for _ in range(rng.randrange(64)))
        elif choice == 4:
            # A header field (or a byte near it) set to a telling value.
            at = rng.choice(fields) + rng.randrange(-2, 3)
            width = rng.choice([1, 2, 4])
            if 0 <= at and at + width <= len(data):
                value = rng.choice(INTERESTING) & ((1 << 8 * width) - 1)
                data[at:at + width] = value.to_bytes(width, rng.choice(["little", "big"]))
        elif choice == 5 and data:
            at = rng.randrange(len(data))
            del data[at:at + rng.randrange(1, 9)]
        else:
            at = rng.randrange(len(data) + 1)
            data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 9)))
    return bytes(data)


def problems(check, data):
    found = check(data)
    assert isinstance(found, list) and all(isinstance(p, str) and p for p in found), found
    return found


def check_folder(rng, folder, assembly, image):
    """problems_in names a file exactly when its size or kind is wrong."""
    expected = set()
    for name, _, kind, size in vp.FILES:
        if rng.random() < 0.1:
            (folder / name).unlink(missing_ok=True)
            expected.add(name)
            continue
        data = assembly if kind == vp.ASSEMBLY else image
        if rng.random() < 0.5:
            data = mutate(rng, data, [0, 0x3C, 0x80, 0x98, 0x10, 0x1D])
        data = data[:size].ljust(size, b"\0") if rng.random() < 0.7 else data
        (folder / name).write_bytes(data)
        good = is_assembly(data) if kind == vp.ASSEMBLY else is_image(data)
        if len(data) != size or not good:
            expected.add(name)
    found = vp.problems_in(folder)
    named = {line.split(":", 1)[0] for line in found}
    assert named == expected, (named, expected)
    with redirect_stderr(io.StringIO()):
        assert vp.main(["v", str(folder)]) == (1 if expected else 0)
        assert vp.main(["v"]) == 2


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--findings", default=".")
    args = parser.parse_args(argv[1:])
    rng = random.Random(args.seed)

    assembly = make_standins.small_assembly(0x1000)
    image = png()
    assert not problems(vp.assembly_problems, assembly) and is_assembly(assembly)
    assert not problems(vp.image_problems, image) and is_image(image)
    pe = struct.unpack_from("<I", assembly, 0x3C)[0]
    optional = pe + 24
    fields = [0, 0x3C, pe, pe + 4, pe + 6, pe + 20, pe + 22, optional, optional + 92,
              optional + 96 + 8 * 14, optional + 100 + 8 * 14, optional + 224, optional + 236,
              optional + 244, optional + 248]
    image_fields = [0, 8, 12, 16, 20, 24, 25, 29]

    runs = findings = 0
    deadline = time.monotonic() + args.seconds
    with tempfile.TemporaryDirectory() as temp:
        folder = Path(temp)
        while time.monotonic() < deadline:
            runs += 1
            kind = rng.randrange(2)
            seed, check, agree, spots = ((assembly, vp.assembly_problems, is_assembly, fields) if kind == 0
                                         else (image, vp.image_problems, is_image, image_fields))
            data = mutate(rng, seed, spots)
            try:
                assert (not problems(check, data)) == agree(data), "accepted and independent check differ"
                if runs % 200 == 0:
                    check_folder(rng, folder, assembly, image)
            except Exception as error:  # noqa: BLE001 - every escape is a finding
                findings += 1
                path = Path(args.findings) / f"payload-crash-{runs}.bin"
                path.write_bytes(data)
                print(f"finding {path}: {type(error).__name__}: {error}", file=sys.stderr)
    print(f"payload_validator_fuzz: {runs} executions, {findings} findings")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

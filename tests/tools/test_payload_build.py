"""The payload build step: stand-ins, the checker and the embedding.

Runs on the build host; needs no Wine. The embedding cases configure a small
native build (tests off) of this tree and are skipped without cmake/ninja.
"""

import hashlib
import lzma
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import unittest.mock
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PAYLOAD = ROOT / "payload"
sys.dont_write_bytecode = True
sys.path.insert(0, str(PAYLOAD))
import make_standins as standin_maker  # noqa: E402
import pack_payloads  # noqa: E402
import validate_payloads as payloads  # noqa: E402

import tool_cache  # noqa: E402

SIZES = {name: size for name, _, _, size in payloads.FILES}


def make_standins(folder):
    subprocess.run([sys.executable, "-B", str(PAYLOAD / "make_standins.py"), str(folder)], check=True)


def validate(folder):
    return subprocess.run([sys.executable, "-B", str(PAYLOAD / "validate_payloads.py"), str(folder)],
                          capture_output=True, text=True)


def chunks(png):
    at, found = 8, []
    while at < len(png):
        length, kind = struct.unpack_from(">I4s", png, at)
        body = png[at + 8:at + 8 + length]
        (crc,) = struct.unpack_from(">I", png, at + 8 + length)
        found.append((kind, body, crc == zlib.crc32(kind + body)))
        at += 12 + length
    return found


def decode_rgba(png):
    """The pixel rows of an 8-bit RGBA PNG, with every filter type undone."""
    parts = chunks(png)
    width, height = struct.unpack(">II", parts[0][1][:8])
    raw = zlib.decompress(b"".join(body for kind, body, _ in parts if kind == b"IDAT"))
    stride = width * 4
    assert len(raw) == height * (stride + 1)
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride if kind else 0):
            a = line[x - 4] if x >= 4 else 0
            b = previous[x]
            c = previous[x - 4] if x >= 4 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, rows


def cli_offset(dll):
    """Where the CLI header of a stand-in lies in the file (its first section holds it)."""
    (pe,) = struct.unpack_from("<I", dll, 0x3C)
    optional = pe + 24
    (rva,) = struct.unpack_from("<I", dll, optional + 96 + 14 * 8)
    section = optional + struct.unpack_from("<H", dll, pe + 20)[0]
    address, _, raw_offset = struct.unpack_from("<III", dll, section + 12)
    return raw_offset + rva - address


def cli_header(dll):
    """The CLI header and metadata root of a one-section stand-in."""
    (pe,) = struct.unpack_from("<I", dll, 0x3C)
    optional = pe + 24
    rva, size = struct.unpack_from("<II", dll, optional + 96 + 14 * 8)
    section = optional + struct.unpack_from("<H", dll, pe + 20)[0]
    address, _, raw_offset = struct.unpack_from("<III", dll, section + 12)
    cli = raw_offset + rva - address
    cb, major, minor, meta_rva, meta_size, flags = struct.unpack_from("<IHHIII", dll, cli)
    meta = raw_offset + meta_rva - address
    return (cb, major, minor, flags), dll[meta:meta + meta_size]


class StandIns(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        # Made once for every case that reads them (tool_cache.py); the
        # determinism case below makes them afresh and compares.
        cls.folder = tool_cache.standins()
        cls.files = {name: (cls.folder / name).read_bytes() for name in SIZES}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_checker_accepts_them_and_a_second_run_gives_the_same_bytes(self):
        result = validate(self.folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        for name, size in SIZES.items():
            self.assertEqual(len(self.files[name]), size, name)
        again = Path(self.tmp.name) / "again"
        make_standins(again)
        for name in SIZES:
            self.assertEqual((again / name).read_bytes(), self.files[name], name)

    def test_assemblies_are_net_dlls_that_name_their_version(self):
        labels = [label for _, label, kind, _ in payloads.FILES if kind == payloads.ASSEMBLY]
        for name, label, kind, _ in payloads.FILES:
            if kind != payloads.ASSEMBLY:
                continue
            with self.subTest(name):
                header, meta = cli_header(self.files[name])
                self.assertEqual(header, (72, 2, 5, 1))  # size, runtime 2.5, IL only
                self.assertEqual(meta[:4], b"BSJB")
                (length,) = struct.unpack_from("<I", meta, 12)
                self.assertEqual(meta[16:16 + length].rstrip(b"\0"), b"v4.0.30319")
                mine = f"stand-in assembly {label}\0".encode()
                self.assertIn(mine, meta)
                for other in labels:
                    if other != label:
                        self.assertNotIn(f"stand-in assembly {other}\0".encode(), self.files[name])

    def test_assemblies_are_real_il_and_each_version_an_edit_of_the_one_before(self):
        assemblies = [name for name, _, kind, _ in payloads.FILES if kind == payloads.ASSEMBLY]
        source = standin_maker.il_source().data
        for name in assemblies:
            with self.subTest(name):
                data = self.files[name]
                self.assertGreaterEqual(len(data) / tool_cache.compressed_size(data), 2)
                # Most of it is the shipped IL and metadata, moved about.
                spots = range(0, len(data) - 32, len(data) // 200)
                found = sum(data[at:at + 32] in source for at in spots)
                self.assertGreater(found, len(spots) * 0.6)
        for earlier, later in zip(assemblies, assemblies[1:]):
            with self.subTest(f"{earlier} -> {later}"):
                a, b = self.files[earlier], self.files[later]
                count = min(len(a), len(b)) // 4096
                differ = sum(a[i * 4096:(i + 1) * 4096] != b[i * 4096:(i + 1) * 4096] for i in range(count))
                self.assertGreaterEqual(differ / count, 0.05)
                # An edit, not a new file: the pair compresses far better together.
                alone = tool_cache.compressed_size(b)
                together = tool_cache.compressed_size(a + b) - tool_cache.compressed_size(a)
                self.assertLess(together, alone / 3)

    def test_images_hardly_compress(self):
        for name in ("before.png", "after.png"):
            data = self.files[name]
            self.assertGreater(tool_cache.compressed_size(data), len(data) * 0.95, name)

    def test_images_decode_to_distinct_plain_pictures(self):
        pictures = {}
        for name in ("before.png", "after.png"):
            parts = chunks(self.files[name])
            self.assertTrue(all(ok for _, _, ok in parts), name)
            self.assertEqual([parts[0][0], parts[-1][0]], [b"IHDR", b"IEND"])
            width, height, rows = decode_rgba(self.files[name])
            self.assertEqual((width, height), (1296, 759))
            colours = {row[x:x + 4] for row in rows[::7] for x in range(0, len(row), 28)}
            self.assertLess(len(colours), 16, f"{name} looks like noise")
            pictures[name] = rows
        before, after = pictures["before.png"], pictures["after.png"]
        self.assertNotEqual(before[10][:4], after[10][:4], "title bands look alike")
        self.assertEqual(before[-1], after[-1], "backgrounds differ")

    @unittest.skipUnless(shutil.which("identify"), "ImageMagick not installed")
    def test_imagemagick_reads_them(self):
        for name in ("before.png", "after.png"):
            out = subprocess.run(["identify", "-format", "%w %h %z %[channels]", str(self.folder / name)],
                                 capture_output=True, text=True, check=True).stdout
            self.assertEqual(out, "1296 759 8 srgba", name)


def patched(data, offset, fmt, *values):
    out = bytearray(data)
    struct.pack_into(fmt, out, offset, *values)
    return bytes(out)


def png_with_ihdr(png, width, height, depth, colour):
    ihdr = b"IHDR" + struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)
    return png[:12] + ihdr + struct.pack(">I", zlib.crc32(ihdr)) + png[33:]


class Checker(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.good = tool_cache.standins()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def check_with(self, name, data):
        folder = Path(tempfile.mkdtemp(dir=self.tmp.name))
        for other in SIZES:
            if other != name:
                (folder / other).symlink_to(self.good / other)
        if data is not None:
            (folder / name).write_bytes(data)
        return validate(folder)

    def test_each_fault_stops_with_the_file_and_what_is_wrong(self):
        dll_name, png_name = "Assembly-CSharp-0.25b.dll", "after.png"
        dll = (self.good / dll_name).read_bytes()
        png = (self.good / png_name).read_bytes()
        (pe,) = struct.unpack_from("<I", dll, 0x3C)
        com = pe + 24 + 96 + 14 * 8
        cli = cli_offset(dll)
        cases = [
            (dll_name, None, "missing"),
            (dll_name, dll[:-1], "3,228,159 bytes, expected exactly 3,228,160"),
            (dll_name, dll + b"\0", "3,228,161 bytes"),
            (dll_name, b"ZM" + dll[2:], "no MZ header"),
            (dll_name, patched(dll, pe, "<4s", b"PE\0\1"), "no PE signature"),
            (dll_name, patched(dll, pe + 4, "<H", 0x8664), "not i386"),
            (dll_name, patched(dll, pe + 22, "<H", 0x0102), "not a DLL"),
            (dll_name, patched(dll, pe + 24, "<H", 0x20B), "not PE32"),
            (dll_name, patched(dll, com, "<II", 0, 0), "empty COM descriptor"),
            (dll_name, patched(dll, com, "<I", 0x7FFF0000), "outside every section"),
            (dll_name, patched(dll, cli, "<I", 68), "CLI header size 68"),
            (dll_name, png[:len(png)] + dll[len(png):], "no MZ header"),
            (png_name, b"\x89PNG\r\n\x1a\0" + png[8:], "no PNG signature"),
            (png_name, png_with_ihdr(png, 1295, 759, 8, 6), "1295 x 759 pixels"),
            (png_name, png_with_ihdr(png, 1296, 760, 8, 6), "1296 x 760 pixels"),
            (png_name, png_with_ihdr(png, 1296, 759, 16, 6), "bit depth 16"),
            (png_name, png_with_ihdr(png, 1296, 759, 8, 2), "colour type 2"),
            (png_name, patched(png, 29, ">I", 0), "IHDR CRC mismatch"),
            (png_name, dll[:len(png)], "no PNG signature"),
        ]
        for name, data, expected in cases:
            with self.subTest(expected=expected):
                result = self.check_with(name, data)
                self.assertEqual(result.returncode, 1)
                lines = [line for line in result.stderr.splitlines() if line.startswith("  ")]
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertIn(name, lines[0])
                self.assertIn(expected, lines[0])

    def test_every_problem_is_listed(self):
        folder = tool_cache.copy_of_standins(Path(self.tmp.name) / "several")
        (folder / "before.png").unlink()
        first = payloads.FILES[0][0]
        (folder / first).write_bytes(b"MZ")
        result = validate(folder)
        self.assertEqual(result.returncode, 1)
        self.assertIn("before.png: missing", result.stderr)
        self.assertIn(first + ": 2 bytes", result.stderr)
        self.assertIn(first + ": truncated DOS header", result.stderr)


def embedded_blobs(obj, scratch):
    """The (dimension count, bytes) blobs in the .rodata of payloads.S.o."""
    subprocess.run(["objcopy", "-O", "binary", "--only-section=.rodata", str(obj), str(scratch)], check=True)
    data, at, blobs = scratch.read_bytes(), 0, []
    while at < len(data):
        dimensions, count = struct.unpack_from("<II", data, at)
        blobs.append((dimensions, data[at + 8:at + 8 + count]))
        at = (at + 8 + count + 3) // 4 * 4
    return blobs


def stream_forms(index):
    """{stream: (method, decoded size)} from payload_index.S."""
    found = re.findall(r"^tg_stream_(\w+):\n  \.long (\d+), (\d+)$", index.read_text(), re.M)
    return {name: (int(method), int(size)) for name, method, size in found}


def decoded(stream, method, size):
    """A stream's bytes: stored ones as they are, an LZMA one decoded (its
    header must name its size)."""
    if method == pack_payloads.STORED:
        return stream
    (named,) = struct.unpack_from("<Q", stream, 5)
    assert size is None or named == size, (named, size)
    return lzma.decompress(stream, format=lzma.FORMAT_ALONE)


def tools_missing():
    return [tool for tool in ("cmake", "ninja", "objcopy", "cc") if not shutil.which(tool)]


@unittest.skipIf(tools_missing(), "build tools missing")
class Embedding(unittest.TestCase):
    """A native build of the payload library from a folder of real files."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.real = tool_cache.copy_of_standins(Path(cls.tmp.name) / "real files")
        cls.build = Path(cls.tmp.name) / "build"
        cls.configure(cls.real).check_returncode()
        cls.object = cls.build / "payload/CMakeFiles/tg_payload.dir/payloads.S.o"

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def configure(cls, folder):
        return subprocess.run(["cmake", "-S", str(ROOT), "-B", str(cls.build), "-G", "Ninja",
                               "-DTG_BUILD_TESTS=OFF", f"-DTG_PAYLOAD_DIR={folder}"],
                              capture_output=True, text=True)

    def build_payloads(self):
        return subprocess.run(["ninja", "-C", str(self.build), "tg_payload"], capture_output=True, text=True)

    def embedded(self):
        return embedded_blobs(self.object, Path(self.tmp.name) / "rodata.bin")

    def test_the_blobs_are_the_packed_streams_of_the_files(self):
        result = self.build_payloads()
        self.assertEqual(result.returncode, 0, result.stdout)
        blobs = self.embedded()
        self.assertEqual([dimensions for dimensions, _ in blobs], [1, 1, 1])
        packed = self.build / "payload" / "packed"
        self.assertTrue([blob for _, blob in blobs] ==
                        [(packed / f"{name}.bin").read_bytes() for name in ("assemblies", "before", "after")])
        forms = stream_forms(packed / "payload_index.S")
        self.assertEqual(forms["assemblies"][0], pack_payloads.LZMA)
        assemblies = [(self.real / name).read_bytes() for name, _, kind, _ in payloads.FILES
                      if kind == payloads.ASSEMBLY]
        self.assertTrue(decoded(blobs[0][1], *forms["assemblies"]) == b"".join(assemblies),
                        "the stream is not the assemblies in the table's order")
        for (_, blob), name in zip(blobs[1:], ("before", "after")):
            self.assertTrue(decoded(blob, *forms[name]) == (self.real / f"{name}.png").read_bytes(), name)
        embedded, raw = map(int, (packed / "payload_bytes.txt").read_text().split())
        self.assertEqual(embedded, sum(len(blob) for _, blob in blobs))
        self.assertEqual(raw, sum(size for _, _, _, size in payloads.FILES))

    def test_a_changed_file_is_embedded_again_and_a_bad_one_stops_the_build(self):
        path = self.real / "Assembly-CSharp-0.25c.dll"
        original = path.read_bytes()
        offset = sum(size for _, label, kind, size in payloads.FILES[:3])
        try:
            self.assertEqual(self.build_payloads().returncode, 0)
            changed = original[:-1] + bytes([original[-1] ^ 0xFF])
            path.write_bytes(changed)
            result = self.build_payloads()
            self.assertEqual(result.returncode, 0, result.stdout)
            stream = decoded(self.embedded()[0][1], pack_payloads.LZMA, None)
            self.assertTrue(stream[offset:offset + len(changed)] == changed, "the old bytes are still embedded")
            path.write_bytes(original[:-512])
            result = self.build_payloads()
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("Assembly-CSharp-0.25c.dll: 3,239,936 bytes, expected exactly 3,240,448",
                          result.stdout + result.stderr)
        finally:
            path.write_bytes(original)

    def test_configure_refuses_a_folder_with_a_wrong_file(self):
        bad = Path(self.tmp.name) / "bad"
        shutil.copytree(self.real, bad)
        (bad / "before.png").write_bytes((bad / "after.png").read_bytes())
        try:
            result = self.configure(bad)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("TG_PAYLOAD_DIR", result.stderr)
            self.assertIn("before.png: 462,645 bytes, expected exactly 407,011", result.stderr)
        finally:
            self.configure(self.real).check_returncode()


@unittest.skipIf(tools_missing(), "build tools missing")
class RawLayout(unittest.TestCase):
    """TG_COMPRESS_PAYLOADS=OFF: each file is one stored blob, in catalogue order."""

    def test_each_file_is_one_blob_in_catalogue_order(self):
        with tempfile.TemporaryDirectory() as tmp:
            real = tool_cache.copy_of_standins(Path(tmp) / "real files")
            build = Path(tmp) / "build"
            subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja", "-DTG_BUILD_TESTS=OFF",
                            f"-DTG_PAYLOAD_DIR={real}", "-DTG_COMPRESS_PAYLOADS=OFF"],
                           capture_output=True, check=True)
            result = subprocess.run(["ninja", "-C", str(build), "tg_payload"], capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout)
            blobs = embedded_blobs(build / "payload/CMakeFiles/tg_payload.dir/payloads.S.o", Path(tmp) / "rodata")
            expected = [(1, (real / name).read_bytes()) for name, _, _, _ in payloads.FILES]
            self.assertTrue(blobs == expected, "embedded blobs differ from the files")
            forms = stream_forms(build / "payload/packed/payload_index.S")
            self.assertEqual(forms, {"before": (pack_payloads.STORED, 407_011),
                                     "after": (pack_payloads.STORED, 462_645)})
            self.assertEqual((build / "payload/packed/payload_bytes.txt").read_text().split(),
                             [str(sum(len(b) for _, b in blobs))] * 2)


class Packing(unittest.TestCase):
    # Every setting that decides the encoder's output is given: the same
    # bytes give the same stream, which this digest pins with the pinned
    # liblzma. Another encoder shows here first.
    SAMPLE_DIGEST = "9d0c2e909f7ab032e1620ac866aefee048482cf4a7cec51e253056cc28960bdb"

    def test_the_pinned_encoder_gives_the_pinned_stream(self):
        sample = standin_maker.small_assembly(0x10000) * 3
        stream = pack_payloads.compress(sample, pack_payloads.dictionary_for(len(sample)))
        self.assertEqual(struct.unpack_from("<Q", stream, 5)[0], len(sample))
        self.assertEqual(lzma.decompress(stream, format=lzma.FORMAT_ALONE), sample)
        self.assertEqual(hashlib.sha256(stream).hexdigest(), self.SAMPLE_DIGEST,
                         f"liblzma {pack_payloads.encoder_version()} (pinned: {pack_payloads.PINNED_ENCODER}) "
                         "writes other bytes: the release would differ")

    def test_a_stream_lzma_does_not_shrink_is_stored_and_the_dictionary_reaches_back_a_version(self):
        noise = hashlib.shake_256(b"noise").digest(100_000)
        self.assertEqual(pack_payloads.packed(noise, 1 << 20), (pack_payloads.STORED, noise))
        text = b"Thistlegarden " * 10_000
        method, stream = pack_payloads.packed(text, 1 << 20)
        self.assertEqual(method, pack_payloads.LZMA)
        self.assertEqual(lzma.decompress(stream, format=lzma.FORMAT_ALONE), text)
        self.assertEqual(pack_payloads.dictionary_for(3_256_832), 4 << 20)
        self.assertEqual(pack_payloads.dictionary_for(3 << 20), 4 << 20)
        self.assertEqual(pack_payloads.dictionary_for((4 << 20) * 4 // 5 + 1), 8 << 20)
        self.assertEqual(pack_payloads.dictionary_for(1 << 30), pack_payloads.LARGEST_DICTIONARY)


class IlSource(unittest.TestCase):
    def test_a_changed_package_stops_the_stand_ins_plainly(self):
        with tempfile.TemporaryDirectory() as tmp:
            changed = Path(tmp) / "System.Xml.dll"
            data = bytearray(standin_maker.IL_SOURCE.read_bytes())
            data[5000] ^= 1
            changed.write_bytes(data)
            for path, expected in ((changed, "SHA-256"), (Path(tmp) / "missing.dll", "cannot be read")):
                with self.subTest(expected), unittest.mock.patch.object(standin_maker, "IL_SOURCE", path):
                    with self.assertRaises(SystemExit) as stop:
                        standin_maker.il_source()
                    self.assertIn(expected, str(stop.exception))
                    self.assertIn(standin_maker.IL_SOURCE_PACKAGE, str(stop.exception))


# A sixth version, as payload/README.md says to add one.
SIXTH = ("0.26a", 320, "Assembly-CSharp-0.26a.dll", 3_355_648)
SIXTH_ROW = 'TG_VERSION(0_26a, "0.26a", 320, 0, "Assembly-CSharp-0.26a.dll", 3355648)\n'


@unittest.skipIf(tools_missing(), "build tools missing")
class AddedVersion(unittest.TestCase):
    """A version added to a test table of versions reaches every place that
    reads the table: the build's checks, the stand-ins and the embedding, the
    benchmark's figure, and in the program the identification, its question,
    the catalogue and the window's list. One native build of the simulated
    program (tests off)."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        # The build tree is kept between runs (tool_cache.py): ninja builds
        # again what changed, as in any build tree, and nothing else. The
        # table is written only when it changes, so that it is not taken for new.
        kept = tool_cache.folder() / "added-version"
        kept.mkdir(exist_ok=True)
        cls.table = kept / "versions.def"
        table = (PAYLOAD / "versions.def").read_text(encoding="utf-8") + SIXTH_ROW
        if not cls.table.exists() or cls.table.read_text(encoding="utf-8") != table:
            cls.table.write_text(table, encoding="utf-8")
        cls.build = kept / "build"
        configured = cls.configure(cls.table)
        configured.check_returncode()
        built = subprocess.run(["ninja", "-C", str(cls.build), "ThistlegardenPatch-sim"],
                               capture_output=True, text=True)
        if built.returncode:
            raise AssertionError(built.stdout + built.stderr)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def configure(cls, table, build=None):
        return subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build or cls.build), "-G", "Ninja",
                               "-DTG_BUILD_TESTS=OFF", f"-DTG_VERSION_TABLE={table}"],
                              capture_output=True, text=True)

    def run_program(self, *args):
        result = subprocess.run([str(self.build / "ThistlegardenPatch-sim"), *args],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def assertInstalled(self, transcript, size):
        self.assertRegex(transcript, r"\[file changed\] [^\n]*\\Managed\\Assembly-CSharp\.dll, "
                         + str(size) + " bytes")

    def test_an_added_version_reaches_every_place(self):
        label, _, name, size = SIXTH
        files = payloads.payload_files(self.table)
        self.assertEqual([f[0] for f in files],
                         [f[0] for f in payloads.FILES[:5]] + [name] + ["before.png", "after.png"])
        standins = self.build / "payload" / "standins"
        made = (standins / name).read_bytes()
        self.assertEqual(len(made), size)
        self.assertIn(f"stand-in assembly {label}\0".encode(), made)

        blobs = embedded_blobs(self.build / "payload/CMakeFiles/tg_payload.dir/payloads.S.o",
                               Path(self.tmp.name) / "rodata.bin")
        self.assertEqual(len(blobs), 3)
        offset = sum(f[3] for f in files[:5])
        stream = decoded(blobs[0][1], pack_payloads.LZMA, offset + size)
        self.assertTrue(stream[offset:] == made, "the stream does not end with the new version's payload")

        # The benchmark's payload figures count it.
        figure = subprocess.run([sys.executable, "-B", str(PAYLOAD / "validate_payloads.py"), "--table",
                                 str(self.table), "--blob-bytes"], capture_output=True, text=True)
        self.assertEqual(int(figure.stdout), payloads.blob_bytes() + 8 + size)
        embedded, raw = map(int, (self.build / "payload/packed/payload_bytes.txt").read_text().split())
        self.assertEqual(raw, sum(f[3] for f in files))
        self.assertEqual(embedded, sum(len(blob) for _, blob in blobs))

        # A folder without the new file is refused, naming it.
        folder = Path(self.tmp.name) / "without"
        shutil.copytree(standins, folder)
        (folder / name).unlink()
        result = subprocess.run([sys.executable, "-B", str(PAYLOAD / "validate_payloads.py"), "--table",
                                 str(self.table), str(folder)], capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn(f"{name}: missing", result.stderr)

        # In the program: identified by its size code, with its question,
        # installed from the catalogue, and listed in the window.
        code = SIXTH[1]
        game_size = code * 1048576 // 100 + 1000
        transcript = self.run_program("--assembly-size", str(game_size))
        self.assertIn(f"识别Assembly-CSharp.dll大小版本自动识别为 {label}，是否确认为该版本？", transcript)
        self.assertInstalled(transcript, size)
        # Picked by hand from the window's list (a pick only takes a listed item).
        self.assertInstalled(self.run_program("--assembly-size", "3229614", "--pick", label), size)
        self.assertNotIn("[file changed]", self.run_program("--assembly-size", "3229614", "--pick", "0.26b"))
        # The other versions are as they were.
        transcript = self.run_program("--assembly-size", "3271557")
        self.assertIn("自动识别为 0.25e，", transcript)
        self.assertInstalled(transcript, 3_256_832)


@unittest.skipIf(tools_missing(), "build tools missing")
class TableRows(unittest.TestCase):
    def test_a_row_the_build_cannot_read_stops_it(self):
        good = (PAYLOAD / "versions.def").read_text(encoding="utf-8")
        cases = {
            "symbol names another label": SIXTH_ROW.replace("0_26a", "0_26b"),
            "a size code missing": SIXTH_ROW.replace("320, 0, ", "320, "),
            "a folder in the file name": SIXTH_ROW.replace('"Assembly', '"sub/Assembly'),
        }
        for name, row in cases.items():
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                table = Path(tmp) / "bad.def"
                table.write_text(good + row, encoding="utf-8")
                result = AddedVersion.configure(table, Path(tmp) / "build")
                self.assertNotEqual(result.returncode, 0)
                self.assertIn("bad.def", result.stderr)
                with self.assertRaises(ValueError):
                    payloads.read_versions(table)


if __name__ == "__main__":
    unittest.main()

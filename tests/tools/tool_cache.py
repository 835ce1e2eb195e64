"""What the tools' own tests make again and again, made once and shared.

Each CTest case of tests/tools runs in a process of its own, and several
make the same things: the stand-in payloads (make_standins.py) and LZMA
streams of the same bytes. Those are kept in TG_TOOLS_CACHE (CTest points it
into the build tree), each under a key that is the SHA-256 of everything
that decides it: for the stand-ins the maker, the checker, the table of
versions, the IL they are made from and Python's version; for a stream the
bytes, every encoder setting and liblzma's version. The same key gives the
same bytes, so a kept result is the result a fresh run would give; any
change to an input is another key, made afresh. Without TG_TOOLS_CACHE a
process keeps its own, in a temporary folder, and shares nothing.

A kept folder is the cache's: a test that changes files copies it first.
A test may also keep a build tree there (folder()), which ninja brings up
to date as it does any build tree.
"""

import atexit
import contextlib
import fcntl
import hashlib
import lzma
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PAYLOAD = ROOT / "payload"

_own = None


def folder():
    """The cache's folder (made when missing)."""
    global _own
    named = os.environ.get("TG_TOOLS_CACHE")
    if named:
        path = Path(named)
    else:
        if _own is None:
            _own = tempfile.TemporaryDirectory(prefix="tg-tools-cache-")
            atexit.register(_own.cleanup)
        path = Path(_own.name)
    path.mkdir(parents=True, exist_ok=True)
    return path


def key(*parts):
    """The SHA-256 (hex) of the parts (bytes or text), each length-prefixed."""
    digest = hashlib.sha256()
    for part in parts:
        data = part if isinstance(part, bytes) else str(part).encode()
        digest.update(len(data).to_bytes(8, "little"))
        digest.update(data)
    return digest.hexdigest()


@contextlib.contextmanager
def _held(name):
    """One process at a time makes what `name` keys; the others wait for it."""
    with open(folder() / (name + ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def standins(table=None):
    """The folder of stand-ins make_standins.py makes for `table` (default:
    payload/versions.def), checked by validate_payloads.py; made on first use."""
    sys.path.insert(0, str(PAYLOAD))
    import make_standins  # noqa: E402
    table = Path(table) if table else PAYLOAD / "versions.def"
    name = "standins-" + key((PAYLOAD / "make_standins.py").read_bytes(),
                             (PAYLOAD / "validate_payloads.py").read_bytes(), table.read_bytes(),
                             make_standins.IL_SOURCE.read_bytes(), sys.version)
    made = folder() / name
    with _held(name):
        if not (made / ".complete").exists():
            shutil.rmtree(made, ignore_errors=True)
            subprocess.run([sys.executable, "-B", str(PAYLOAD / "make_standins.py"), "--table", str(table),
                            str(made)], check=True)
            subprocess.run([sys.executable, "-B", str(PAYLOAD / "validate_payloads.py"), "--table",
                            str(table), str(made)], check=True, capture_output=True)
            (made / ".complete").write_text("")
    return made


def copy_of_standins(to, table=None):
    """A copy of the stand-ins at `to`, for a test to change."""
    shutil.copytree(standins(table), to, ignore=shutil.ignore_patterns(".complete"))
    return Path(to)


def compressed_size(data, preset=9 | lzma.PRESET_EXTREME):
    """len(lzma.compress(data, preset=preset)) (.xz), kept by the bytes' digest."""
    name = "xz-size-" + key(data, preset, _liblzma())
    kept = folder() / name
    try:
        return int(kept.read_text())
    except (OSError, ValueError):
        pass
    size = len(lzma.compress(data, preset=preset))
    scratch = kept.with_name(kept.name + ".%d" % os.getpid())
    scratch.write_text(str(size))
    os.replace(scratch, kept)
    return size


def _liblzma():
    sys.path.insert(0, str(PAYLOAD))
    import pack_payloads  # noqa: E402
    return pack_payloads.encoder_version() or "unknown"

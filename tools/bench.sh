#!/usr/bin/env bash
# Prints the figures the project watches: executable sizes, the code around
# the payloads, the payloads beside the same files as one xz -9e stream and
# the release beside a fifth of its size before compression, the embedding
# step, one whole run on the simulated machine (CPU time and heap) and the
# decoding of the largest payload, and under Wine: the installer's times,
# the decoding of the largest payload, the time from the player's OK to the
# first file in Managed and the installer's peak resident memory, and the
# time of replacing the game's assembly (write beside, flush, swap) on the
# real backend beside a plain overwrite. Reports only; nothing is judged here.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/session.sh
. tools/session.sh
claim_tree bench
for preset in sim win32 win64; do
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

python3 - <<'PY'
import os, re, resource, subprocess, sys

sys.path.insert(0, "payload")
import validate_payloads as vp

BEFORE_COMPRESSION = 16_811_008  # the release when its payloads were stored raw
PROGRAM_THEN = 96_488            # its program beyond the payloads (win32), blob headers counted


def cache_value(build, name):
    with open(f"{build}/CMakeCache.txt", encoding="utf-8") as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def payload_files(build):
    """The payload files the build embeds, in their order."""
    table = cache_value(build, "TG_VERSION_TABLE") or vp.TABLE
    folder = cache_value(build, "TG_PAYLOAD_DIR") or f"{build}/payload/standins"
    return [os.path.join(folder, name) for name, _, _, _ in vp.payload_files(table)]


def payload_bytes(build):
    """(embedded, uncompressed) payload bytes, as tools/release.sh counts them."""
    with open(f"{build}/payload/packed/payload_bytes.txt") as f:
        return tuple(int(n) for n in f.read().split())


for preset in ("win32", "win64"):
    size = os.path.getsize(f"build/{preset}/ThistlegardenPatch.exe")
    embedded, raw = payload_bytes(f"build/{preset}")
    code = size - embedded
    then = f"; {PROGRAM_THEN:,d} before compression" if preset == "win32" else ""
    print(f"{preset:6} executable: {size:10,d} bytes; program beyond its payloads {code:7,d} bytes "
          f"({code / 1024:.1f} KiB{then}; goal under 90 KB)")

# The payload budgets, each beside what it is measured against.
embedded, raw = payload_bytes("build/win32")
files = payload_files("build/win32")
solid = subprocess.run(f"cat {' '.join(files)} | xz -9e -c -T1 | wc -c", shell=True, check=True,
                       capture_output=True, text=True).stdout.strip()
solid = int(solid)
release = os.path.getsize("build/win32/ThistlegardenPatch.exe")
print(f"payloads in the release {embedded:12,d} bytes | the same {len(files)} files as one xz -9e stream "
      f"{solid:12,d} bytes | {embedded / solid - 1:+.1%} (goal within 5 %; {raw:,d} bytes uncompressed)")
print(f"whole release           {release:12,d} bytes | a fifth of {BEFORE_COMPRESSION:,d}         "
      f"{BEFORE_COMPRESSION // 5:12,d} bytes | {release / BEFORE_COMPRESSION:.3f} of it (goal at most 0.200)")

runs = 20
before = resource.getrusage(resource.RUSAGE_CHILDREN)
for _ in range(runs):
    out = subprocess.run(["build/sim/ThistlegardenPatch-sim"], capture_output=True, text=True,
                         check=True).stdout
after = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) / runs
heap = int(re.search(r"heap peak (\d+) bytes", out).group(1))
print(f"sim    one good install: {cpu * 1000:.1f} ms CPU (mean of {runs}, process start included); "
      f"heap peak {heap:,d} bytes (simulated disk excluded, simulator bookkeeping included)")
decoding = subprocess.run(["build/sim/tests/unit_tests", "--gtest_filter=PayloadDigestTest.CostOf*"],
                          capture_output=True, text=True).stdout
found = re.search(r"^decoding and checking .*$", decoding, re.M)
print(f"sim    {found.group(0) if found else 'decoding not measured (unit_tests not built)'}")
PY

echo "payload embedding (32-bit build):"
bash payload/measure.sh | sed 's/^/  /'

# The installer under Wine: the 32-bit release under the Wine 10 root, the
# 64-bit build under wine64 (their Wine sessions are ended on exit).
for preset in win32 win64; do
  build=$(pwd)/build/$preset
  if [ "$preset" = win32 ] && ! why=$(bash tools/host32.sh --reason); then
    echo "under Wine: win32 not measurable on this host (${why:-$(bash tools/host32.sh)})"
    continue
  fi
  env=(TG_BUILD="$build" WINEPREFIX="$build/wineprefix" TG_INSTALLER="$build/ThistlegardenPatch.exe"
       PYTHONDONTWRITEBYTECODE=1)
  if [ "$preset" = win32 ]; then
    env+=(TG_WINE_ROOT="$(bash tools/setup-wine32.sh --path)" TG_HELPERS="$build/helpers64")
  else
    env+=(TG_HELPERS="$build/tests/e2e/helpers")
  fi
  end_wine_session_on_exit "$build"
  env "${env[@]}" /usr/bin/python3 tests/e2e/runner.py setup "$build" --slots 0 >/dev/null
  guarded env "${env[@]}" /usr/bin/python3 tools/bench_wine.py "$build" 3 > build/.bench-wine.txt
  sed 's/^/under Wine: /' build/.bench-wine.txt
  largest=$(python3 -B -c 'import sys; sys.path.insert(0, "payload"); import validate_payloads as vp
print(max(vp.read_versions(), key=lambda v: v[3])[0])')
  guarded env "${env[@]}" tests/e2e/wine-run "$build/tests/replace_bench.exe" --decode "$largest" 5 \
    2>/dev/null | tr -d '\r' | sed "s/^/under Wine: $preset /"
  guarded env "${env[@]}" /usr/bin/python3 tools/bench_wine.py "$build" 3 --ok-to-managed "$largest" \
    | sed 's/^/under Wine: /'
  echo "under Wine: $preset replacing a 3.2 MB assembly on the real backend:"
  bench_dir=$build/wineprefix/drive_c/tg-bench
  mkdir -p "$bench_dir"
  guarded env "${env[@]}" tests/e2e/wine-run "$build/tests/replace_bench.exe" 'C:\tg-bench\' \
    "${BENCH_ROUNDS:-7}" > build/.bench-replace.txt 2>/dev/null
  tr -d '\r' < build/.bench-replace.txt | sed 's/^/  /'
  rm -rf "$bench_dir"
  env "${env[@]}" tests/e2e/wine-session stop "$build" >/dev/null
done

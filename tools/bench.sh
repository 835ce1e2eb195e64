#!/usr/bin/env bash
# Prints the figures the project watches: executable sizes, the code around
# the payloads, the embedding step, one whole run on the simulated machine
# (CPU time and heap), and under Wine: the installer's times, and the time of
# replacing the game's assembly (write beside, flush, swap) on the real
# backend beside a plain overwrite. Reports only; nothing is judged here.
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


def payload_bytes(build):
    """The bytes the build's payloads take, from the table of versions it embeds."""
    table = vp.TABLE
    with open(f"{build}/CMakeCache.txt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("TG_VERSION_TABLE:"):
                table = line.split("=", 1)[1].strip()
    return vp.blob_bytes(table)


for preset in ("win32", "win64"):
    size = os.path.getsize(f"build/{preset}/ThistlegardenPatch.exe")
    code = size - payload_bytes(f"build/{preset}")
    print(f"{preset:6} executable: {size:10,d} bytes; without its payloads {code:7,d} bytes "
          f"({code / 1024:.1f} KiB, goal under 90 KB)")

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
  env "${env[@]}" tests/e2e/wine-session start "$build" >/dev/null
  guarded env "${env[@]}" /usr/bin/python3 tools/bench_wine.py "$build" 3 > build/.bench-wine.txt
  sed 's/^/under Wine: /' build/.bench-wine.txt
  echo "under Wine: $preset replacing a 3.2 MB assembly on the real backend:"
  bench_dir=$build/wineprefix/drive_c/tg-bench
  mkdir -p "$bench_dir"
  guarded env "${env[@]}" tests/e2e/wine-run "$build/tests/replace_bench.exe" 'C:\tg-bench\' \
    "${BENCH_ROUNDS:-7}" > build/.bench-replace.txt 2>/dev/null
  tr -d '\r' < build/.bench-replace.txt | sed 's/^/  /'
  rm -rf "$bench_dir"
  env "${env[@]}" tests/e2e/wine-session stop "$build" >/dev/null
done

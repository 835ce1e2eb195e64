#!/usr/bin/env bash
# Prints the figures the project watches: executable sizes and the CPU time
# of one whole run on the simulated machine. Reports only; nothing is judged.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in sim win32 win64; do
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done

python3 - <<'PY'
import os, resource, subprocess, time

for preset in ("win32", "win64"):
    exe = f"build/{preset}/ThistlegardenPatch.exe"
    size = os.path.getsize(exe)
    print(f"{preset:6} executable: {size:9,d} bytes ({size / 1024:.1f} KiB)")

runs = 20
before = resource.getrusage(resource.RUSAGE_CHILDREN)
for _ in range(runs):
    subprocess.run(["build/sim/ThistlegardenPatch-sim"], stdout=subprocess.DEVNULL, check=True)
after = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) / runs
print(f"sim    one whole run: {cpu * 1000:.2f} ms CPU (mean of {runs} runs, process start included)")
PY

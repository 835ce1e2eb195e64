#!/usr/bin/env bash
# Builds all three flavours and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

for preset in sim asan win32 win64; do
  echo "== build: $preset"
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

status=0
for preset in sim asan win32 win64; do
  echo "== test: $preset"
  ctest --preset "$preset" || status=1
done
echo "== fuzz: a short run of every target"
FUZZ_SECONDS=3 bash tools/fuzz.sh || status=1
exit $status

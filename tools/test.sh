#!/usr/bin/env bash
# Builds the four presets (sim, asan, win32, win64) and runs the whole suite,
# then a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# shellcheck source=tools/session.sh
. tools/session.sh
claim_tree test

bash tools/setup.sh

presets=(sim asan win32 win64)
started=$(date +%s)
for preset in "${presets[@]}"; do
  echo "== build: $preset"
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

status=0
for preset in "${presets[@]}"; do
  echo "== test: $preset"
  case $preset in win32|win64) end_wine_session_on_exit "$root/build/$preset" ;; esac
  guarded ctest --preset "$preset" || status=1
done
echo "== fuzz: a short run of every target"
FUZZ_SECONDS=3 guarded bash tools/fuzz.sh || status=1
echo "== the whole test command took $(( $(date +%s) - started )) s after set-up"
exit $status

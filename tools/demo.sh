#!/usr/bin/env bash
# Builds the 32-bit release installer and runs it under Wine in a real
# console, against a stand-in game. --build build/win64 runs the 64-bit build.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/session.sh
. tools/session.sh
claim_tree demo
bash tools/setup.sh
build=build/win32
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  [ "${args[$i]}" = --build ] && build=${args[$((i + 1))]:-$build}
done
[ -f "$build/build.ninja" ] || cmake --preset "$(basename "$build")" >/dev/null
cmake --build "$build" >/dev/null
end_wine_session_on_exit "$(cd "$build" && pwd)"
PYTHONDONTWRITEBYTECODE=1 guarded /usr/bin/python3 tests/e2e/demo.py "$@"

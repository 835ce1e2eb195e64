#!/usr/bin/env bash
# Builds the 32-bit release installer and runs it under Wine in a real
# console, against a stand-in game. --build build/win64 runs the 64-bit build.
# Where this host's kernel runs no 32-bit code, the 64-bit build runs
# instead, and the demo says so before it starts: the machine the tests use
# there takes minutes for one install under software emulation.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=tools/session.sh
. tools/session.sh
claim_tree demo
# The demo never needs the machine for the 32-bit runs.
TG_VM32=off bash tools/setup.sh
build=
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  [ "${args[$i]}" = --build ] && build=${args[$((i + 1))]:-}
done
if [ -z "$build" ]; then
  build=build/win32
  if why=$(bash tools/host32.sh --reason); then
    :
  elif [ -n "$why" ]; then
    echo "demo: $why; showing the 64-bit build under wine64 instead of the 32-bit release" \
      "(the tests' machine for the 32-bit runs is too slow for a demo)"
    build=build/win64
    args+=(--build "$build")
  else
    bash tools/host32.sh >&2 || true
    exit 1
  fi
fi
[ -f "$build/build.ninja" ] || cmake --preset "$(basename "$build")" >/dev/null
cmake --build "$build" >/dev/null
end_wine_session_on_exit "$(cd "$build" && pwd)"
PYTHONDONTWRITEBYTECODE=1 guarded /usr/bin/python3 tools/demo.py "${args[@]}"

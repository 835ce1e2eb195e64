#!/usr/bin/env bash
# Builds the installer and runs it under Wine in a real console.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
[ -f build/win64/build.ninja ] || cmake --preset win64 >/dev/null
cmake --build --preset win64 >/dev/null
exec python3 tests/e2e/demo.py "$@"

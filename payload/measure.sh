#!/usr/bin/env bash
# Measures the payload embedding in the 32-bit release build:
#   - the time to assemble payloads.S (the embedding step alone),
#   - the time to rebuild the installer after one payload file changed,
#   - the installer's size less the payload bytes it carries (as embedded:
#     compressed unless TG_COMPRESS_PAYLOADS is off), and those bytes beside
#     the files' own.
# usage: payload/measure.sh [WORK_FOLDER]   (default: a fresh temporary folder)
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${1:-}" ]; then
  work=$1
else
  work=$(mktemp -d /tmp/tg-payload-measure.XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi
files=$work/payloads
build=$work/w32
mkdir -p "$work"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

python3 -B "$src/payload/make_standins.py" "$files"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DTG_BUILD_TESTS=OFF -DTG_PAYLOAD_DIR="$files" >"$work/configure.log"
ninja -C "$build" ThistlegardenPatch >"$work/build.log"

object=$(ninja -C "$build" -t targets all | grep -o '^[^:]*payloads\.S\.o[bj]*' | head -n 1)
command=$(ninja -C "$build" -t commands "$object" | tail -n 1)
runs=5
start=$(now)
for _ in $(seq $runs); do (cd "$build" && eval "$command"); done
end=$(now)
embed=$(awk -v t="$(elapsed "$start" "$end")" -v n=$runs 'BEGIN { printf "%.3f", t / n }')

touch "$files/Assembly-CSharp-0.25b.dll"  # packed again with the others
start=$(now)
ninja -C "$build" ThistlegardenPatch >"$work/rebuild.log"
end=$(now)
rebuild=$(elapsed "$start" "$end")
grep -q 'payloads\.S' "$work/rebuild.log" || { echo "rebuild did not re-embed" >&2; exit 1; }

exe=$(stat -c %s "$build/ThistlegardenPatch.exe")
read -r payload raw <"$build/payload/packed/payload_bytes.txt"

echo "embed_step_seconds: $embed (assembling payloads.S, mean of $runs)"
echo "rebuild_after_payload_change_seconds: $rebuild (check, pack, assemble, archive, link)"
echo "exe_bytes: $exe"
echo "payload_bytes: $payload (embedded; the files themselves: $raw)"
echo "exe_minus_payload_bytes: $((exe - payload))"

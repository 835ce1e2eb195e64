#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS
# (default 30) on a copy of its seed corpus, and fuzzes the payload checker,
# two at a time.
# Prints executions, corpus size and findings per target; exits 1 on any.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"
work="$build/work"
seconds="${FUZZ_SECONDS:-30}"
cc="$(command -v clang || command -v clang-14)"
cxx="$(command -v clang++ || command -v clang++-14)"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_CXX_COMPILER="$cxx" -DTG_FUZZ=ON -DTG_BUILD_TESTS=OFF >/dev/null || exit 2
ninja -C "$build" fuzz_targets >/dev/null || { ninja -C "$build" fuzz_targets; exit 2; }

targets=(text_search_fuzz text_cut_fuzz floor_fuzz wide_text_fuzz drive_path_fuzz folder_part_fuzz
         payload_stream_fuzz)
failed=0
# One target's run; its line for the table goes to $work/$t/line, and its
# findings stay in $work/$t/findings.
fuzz_one() {
  local t=$1 runs corpus findings
  rm -rf "${work:?}/$t"
  mkdir -p "$work/$t/corpus" "$work/$t/findings"
  cp "$root/tests/fuzz/corpus/$t/"* "$work/$t/corpus/" 2>/dev/null
  # Keep going after a finding so every target gets its full time.
  "$build/tests/fuzz/$t" -max_total_time="$seconds" -fork=1 -ignore_crashes=1 \
    -artifact_prefix="$work/$t/findings/" "$work/$t/corpus" >"$work/$t/log" 2>&1
  runs="$(grep -o "^#[0-9]*" "$work/$t/log" | tr -d "#" | tail -n 1 |
          awk "{print \$1 + 0} END {if (NR == 0) print 0}")"
  corpus="$(find "$work/$t/corpus" -type f | wc -l)"
  findings="$(find "$work/$t/findings" -type f | wc -l)"
  printf '%-20s %12s %8s %s\n' "$t" "$runs" "$corpus" "$findings" >"$work/$t/line"
}

# The payload checker's fuzzing, as one more target.
fuzz_payloads() {
  mkdir -p "$work/payload_validator"
  rm -f "$work/payload_validator/"payload-crash-*
  python3 -B "$root/tests/fuzz/payload_validator_fuzz.py" --seconds "$seconds" \
    --findings "$work/payload_validator" >"$work/payload_validator/out" 2>&1
  echo $? >"$work/payload_validator/status"
}

# Two at a time: each still gets its full time, on a core of its own.
printf '%-20s %12s %8s %s\n' target executions corpus findings
for t in "${targets[@]}" payloads; do
  [ "$(jobs -rp | wc -l)" -lt 2 ] || wait -n
  if [ "$t" = payloads ]; then fuzz_payloads & else fuzz_one "$t" & fi
done
wait
for t in "${targets[@]}"; do
  cat "$work/$t/line" 2>/dev/null || printf '%-20s did not run\n' "$t"
  for f in "$work/$t/findings/"*; do [ -e "$f" ] && echo "    $f"; done
  [ -z "$(find "$work/$t/findings" -type f 2>/dev/null)" ] && [ -f "$work/$t/line" ] || failed=1
done
cat "$work/payload_validator/out"
[ "$(cat "$work/payload_validator/status" 2>/dev/null)" = 0 ] || failed=1

[ "$failed" -eq 0 ] && echo "fuzz: no findings" || echo "fuzz: FINDINGS (logs in $work)"
exit "$failed"

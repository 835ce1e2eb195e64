#!/usr/bin/env bash
# Builds the 32-bit release installer from a clean copy of the committed
# sources and prints its SHA-256.
#
#   tools/release.sh [--out DIR] [--payloads DIR] [sign.sh options]
#   tools/release.sh --check [--payloads DIR]
#
# The sources of HEAD are exported (git archive) into a temporary folder and
# built there with the toolchain of the win32 preset, tests off; the
# installer goes to DIR (default dist/). Uncommitted changes are not in it.
# --payloads embeds the real payload files of that folder instead of the
# stand-ins. With a certificate and key (tools/sign.sh: --cert/--key or
# TG_SIGN_CERT/TG_SIGN_KEY, --timestamp URL optional) the installer is signed;
# without, it is left unsigned, saying so.
#
# --check builds twice, in two folders of different path lengths, and
# compares the two installers byte for byte; exit status 1 when they differ.
#
# Either way it prints, on a line of its own, what the installer holds:
#   release: program N bytes, payloads M bytes (R bytes uncompressed)
# M being the payload streams as embedded, R the payload files' own bytes and
# N the rest (the code, the blobs' headers and what aligns them).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
check=0
out=$repo/dist
payloads=
sign_opts=()
while [ $# -gt 0 ]; do
  case $1 in
    --check) check=1; shift ;;
    --out) out=$2; shift 2 ;;
    --payloads) payloads=$(cd "$2" && pwd); shift 2 ;;
    --cert|--key|--pass-file|--timestamp) sign_opts+=("$1" "$2"); shift 2 ;;
    *) echo "release: unknown argument $1" >&2; exit 2 ;;
  esac
done

commit=$(git -C "$repo" rev-parse HEAD)
if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
  echo "release: the work tree has uncommitted changes; building the committed $commit" >&2
fi
# Nothing in the build reads the clock; should a tool do so, it takes the
# commit's time.
SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH

work=$(mktemp -d /tmp/tg-release.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Builds the commit in $1; prints the installer's path.
build_in() {
  local dir=$1
  mkdir -p "$dir/src"
  git -C "$repo" archive "$commit" | tar -x -C "$dir/src"
  cmake -S "$dir/src" -B "$dir/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$dir/src/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DTG_BUILD_TESTS=OFF -DPython3_EXECUTABLE=/usr/bin/python3 ${payloads:+-DTG_PAYLOAD_DIR="$payloads"} \
    >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log" >&2; return 1; }
  ninja -C "$dir/build" ThistlegardenPatch >"$dir/build.log" 2>&1 || { cat "$dir/build.log" >&2; return 1; }
  echo "$dir/build/ThistlegardenPatch.exe"
}

# The line that splits the installer at $1 into program and payloads.
split_line() {
  local exe=$1 embedded raw
  read -r embedded raw <"$(dirname "$exe")/payload/packed/payload_bytes.txt"
  echo "release: program $(($(stat -c %s "$exe") - embedded)) bytes, payloads $embedded bytes ($raw bytes uncompressed)"
}

if [ "$check" = 1 ]; then
  first=$(build_in "$work/a")
  second=$(build_in "$work/a-second-folder-with-a-much-longer-path/b")
  sum1=$(sha256sum "$first" | cut -d' ' -f1)
  sum2=$(sha256sum "$second" | cut -d' ' -f1)
  echo "commit $commit"
  echo "$sum1  $(stat -c %s "$first") bytes, built in $(dirname "$(dirname "$first")")"
  echo "$sum2  $(stat -c %s "$second") bytes, built in $(dirname "$(dirname "$second")")"
  split_line "$first"
  if cmp -s "$first" "$second"; then
    echo "release: the two builds are identical"
    exit 0
  fi
  echo "release: the two builds differ:" >&2
  cmp -l "$first" "$second" | head -n 20 >&2 || true
  exit 1
fi

exe=$(build_in "$work/a")
mkdir -p "$out"
unsigned=$out/ThistlegardenPatch.exe
cp "$exe" "$unsigned"
echo "commit $commit"
echo "$(sha256sum "$unsigned" | cut -d' ' -f1)  $unsigned (unsigned, $(stat -c %s "$unsigned") bytes)"
split_line "$exe"
status=0
bash "$repo/tools/sign.sh" "${sign_opts[@]}" "$unsigned" "$work/signed.exe" || status=$?
case $status in
  0) mv "$work/signed.exe" "$unsigned"
     echo "$(sha256sum "$unsigned" | cut -d' ' -f1)  $unsigned (signed, $(stat -c %s "$unsigned") bytes)" ;;
  3) echo "release: $unsigned is not signed" ;;
  *) echo "release: signing failed" >&2; exit 1 ;;
esac

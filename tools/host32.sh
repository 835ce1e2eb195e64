#!/usr/bin/env bash
# Whether this host runs 32-bit Windows programs (the release) under the Wine
# 10 root. Some kernels run no 32-bit code segments (IA-32 emulation off);
# there every 32-bit Windows program dies at once.
#
#   host32.sh            print the answer in one line; exit 0 (runs 32-bit
#                        code), 1 (does not) or 2 (cannot tell: Wine itself
#                        fails here, which is an error, never a "no")
#   host32.sh --reason   print only the reason of a "no" (empty otherwise)
#
# The answer comes from a tiny 32-bit program of ours run under the root,
# next to a 64-bit one (Wine works at all) and a native far return into the
# 32-bit code segment with one 32-bit system call there (the kernel's own
# answer): "no" needs both the 32-bit program and the native probe to fail
# while the 64-bit program runs. A "yes"
# or "no" is kept in the cache beside the root, keyed by the kernel, its
# command line, the root and these probes, so another kernel asks again.
#
# TG_HOST32_PRETEND=no answers "no" without asking, for tests of the
# harness's skip path. Never set it by default.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
cache=${TG_WINE32_CACHE:-/var/cache/thistlegarden/wine32}
root=$cache/root
work=$cache/host32
no_reason="this host's kernel runs no 32-bit code: IA-32 emulation is off"

mode=${1:-}
say() {   # VERDICT TEXT
  if [ "$mode" = --reason ]; then
    [ "$1" = no ] && echo "$2"
  else
    case $1 in
      yes) echo "host32: yes, $2" ;;
      no) echo "host32: no, $2" ;;
      *) echo "host32: cannot tell: $2" ;;
    esac
  fi
  case $1 in yes) exit 0 ;; no) exit 1 ;; *) exit 2 ;; esac
}

if [ "${TG_HOST32_PRETEND:-}" = no ]; then
  say no "$no_reason (pretended: TG_HOST32_PRETEND=no)"
fi

[ -f "$root/.tg-wine32-ready" ] ||
  say error "no Wine 10 root at $root ($(cat "$cache/unavailable" 2>/dev/null || echo 'tools/setup-wine32.sh builds it'))"

key=$( { uname -srvm; cat /proc/cmdline; cat "$root/.tg-wine32-ready";
         cat "$here/host32/probe.c" "$here/host32/far_return.c" "$0"; } | sha256sum | cut -c1-16)
verdict=$work/verdict-$key
# A kept answer ends the script; another run may be writing one meanwhile.
answer_from_cache() {
  [ -f "$verdict" ] || return 0
  read -r answer <"$verdict"
  [ "$answer" = yes ] && say yes "this host runs 32-bit Windows code (cached $(sed -n 2p "$verdict"))"
  [ "$answer" = no ] && say no "$no_reason (cached $(sed -n 2p "$verdict"))"
}
answer_from_cache
mkdir -p "$work"
exec 7>"$work/.lock"
flock 7
answer_from_cache

for cc in i686-w64-mingw32-gcc x86_64-w64-mingw32-gcc gcc; do
  command -v "$cc" >/dev/null || say error "$cc is not installed (tools/setup.sh installs it)"
done
bin=$work/bin
rm -rf "$bin" && mkdir -p "$bin"
i686-w64-mingw32-gcc -Os -s -DPROBE_BITS='"32"' -o "$bin/probe32.exe" "$here/host32/probe.c" 2>"$bin/cc.log" &&
  x86_64-w64-mingw32-gcc -Os -s -DPROBE_BITS='"64"' -o "$bin/probe64.exe" "$here/host32/probe.c" 2>>"$bin/cc.log" &&
  gcc -O1 -static -no-pie -o "$bin/far_return" "$here/host32/far_return.c" 2>>"$bin/cc.log" ||
  say error "the probes do not build: $(tail -n 3 "$bin/cc.log")"

# A prefix of the probe's own, kept beside the answers.
export WINEPREFIX=$work/prefix WINEDEBUG=-all
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY
chrooted=("$repo/tests/e2e/wine-chroot" --bind "$work" "$root")
run() {   # EXE: its output and exit code, in $out and $rc
  out=$(cd "$bin" && timeout 300 "${chrooted[@]}" wine64 "$bin/$1" </dev/null 2>&1)
  rc=$?
}
end_wine() {
  timeout 60 "${chrooted[@]}" wineserver -k >/dev/null 2>&1
  timeout 60 "${chrooted[@]}" wineserver -w >/dev/null 2>&1
}
trap end_wine EXIT

run probe64.exe
[ "$rc" -eq 0 ] && [[ $out == *"64-bit code runs"* ]] ||
  say error "Wine 10 does not run a 64-bit program here (exit $rc): $(echo "$out" | tail -n 2 | tr '\n' ' ')"
run probe32.exe
if [ "$rc" -eq 0 ] && [[ $out == *"32-bit code runs"* ]]; then
  printf 'yes\n%s\n' "$(date -u +%FT%TZ)" >"$verdict"
  say yes "this host runs 32-bit Windows code"
fi
wine_out=$(echo "$out" | tail -n 2 | tr '\n' ' ')
far=$("$bin/far_return" 2>&1)
if [ "$far" = no ]; then
  printf 'no\n%s\n' "$(date -u +%FT%TZ)" >"$verdict"
  say no "$no_reason"
fi
say error "a 32-bit program fails under Wine 10 (exit $rc: $wine_out) although the kernel runs 32-bit code (far return: $far)"

#!/usr/bin/env bash
# A Wine that runs 32-bit Windows programs on this 64-bit-only kernel: Debian
# 13's Wine 10 in its WoW64 mode, in a root folder of its own, with the i386
# PE DLLs of libwine:i386 (unpacked, never installed).
#
#   setup-wine32.sh          build the root once; quick when it is there
#   setup-wine32.sh --path   print where the root is (or would be)
#
# The root lives outside the work tree, in $TG_WINE32_CACHE (default
# /var/cache/thistlegarden/wine32). It is built in a temporary folder and
# renamed into place only when complete, so an interrupted build leaves
# nothing that looks usable. When it cannot be built (no network, no
# mmdebstrap) this prints one line saying why and exits 1; the 32-bit tests
# then fail with that line.
set -euo pipefail

cache=${TG_WINE32_CACHE:-/var/cache/thistlegarden/wine32}
root=$cache/root
stamp=$root/.tg-wine32-ready
why=$cache/unavailable

if [ "${1:-}" = "--path" ]; then
  echo "$root"
  exit 0
fi

[ -f "$stamp" ] && exit 0

mkdir -p "$cache"
exec 7>"$cache/.lock"
if ! flock -n 7; then
  echo "setup-wine32: another set-up is building $root; waiting for it"
  flock 7
fi
[ -f "$stamp" ] && exit 0

fail() {
  echo "setup-wine32: $*" | tee "$why" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || fail "must run as root (chroot and mounts) to build $root"
command -v mmdebstrap >/dev/null || fail "mmdebstrap is not installed"

# shellcheck source=tools/debian_root.sh
. "$(dirname "$0")/debian_root.sh"
mirror=$(debian_mirror)

work=$cache/root.partial
rm -rf "$work" "$why"
echo "setup-wine32: building the Wine 10 root in $root (from $mirror, about a minute)"

# Inside the root: the Chinese locale, and the 32-bit PE DLLs.
hook="set -e
root=\$1
$wine32_hook_steps"

if ! mmdebstrap --quiet --variant=apt --include=wine64,libwine,locales \
    --customize-hook="$hook" trixie "$work" "deb $mirror trixie main" >"$cache/build.log" 2>&1; then
  rm -rf "$work"
  fail "could not build the Wine 10 root from $mirror (see $cache/build.log)"
fi
[ -x "$work/usr/lib/wine/wine64" ] || fail "the root has no /usr/lib/wine/wine64"
n=$(ls "$work/usr/lib/x86_64-linux-gnu/wine/i386-windows" | wc -l)
[ "$n" -gt 100 ] || fail "the root has no 32-bit PE DLLs"

date -u +%FT%TZ >"$work/.tg-wine32-ready"
rm -rf "$root"
mv "$work" "$root"
echo "setup-wine32: ready ($n 32-bit DLLs)"

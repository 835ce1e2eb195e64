#!/usr/bin/env bash
# A virtual machine for the 32-bit runs on a host whose kernel runs no 32-bit
# code: Debian 13 with its own kernel (which does), Wine 10 with the i386 PE
# DLLs as in the Wine 10 root, Xvfb, Python and an SSH server; booted under
# qemu by tools/vm32.sh.
#
#   setup-vm32.sh           build the machine once; quick when it is there
#   setup-vm32.sh --check   exit 0 when the machine is ready, else print why
#
# Kept outside the work tree in $TG_VM32_CACHE (default
# /var/cache/thistlegarden/vm32): the kernel, the initrd, the disk image
# (whose Wine prefix is made once, at build time, and kept), and the SSH key
# the host logs in with. Built in a temporary folder and renamed into place
# only when complete; rebuilt when its recipe (this script, the machine's
# init) changes. Runs use a copy-on-write overlay, never the image itself.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
cache=${TG_VM32_CACHE:-/var/cache/thistlegarden/vm32}
machine=$cache/machine
recipe=$(cat "$0" "$here/debian_root.sh" "$here/vm32/tg-vm-init" | sha256sum | cut -c1-16)
why=$cache/unavailable

ready() { [ -f "$machine/.ready" ] && [ "$(cat "$machine/.ready")" = "$recipe" ]; }

if [ "${1:-}" = --check ]; then
  ready && exit 0
  if [ -f "$why" ]; then cat "$why"; else echo "no machine for the 32-bit runs at $machine (tools/setup-vm32.sh builds it)"; fi
  exit 1
fi
ready && exit 0

mkdir -p "$cache"
exec 7>"$cache/.lock"
if ! flock -n 7; then
  echo "setup-vm32: another set-up is building $machine; waiting for it"
  flock 7
fi
ready && exit 0

fail() {
  echo "setup-vm32: $*" | tee "$why" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "must run as root to build $machine"
for tool in mmdebstrap mke2fs qemu-system-x86_64 qemu-img ssh ssh-keygen; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (tools/setup.sh installs it)"
done

# shellcheck source=tools/debian_root.sh
. "$here/debian_root.sh"
mirror=$(debian_mirror)

work=$cache/machine.partial
rm -rf "$work" "$why"
mkdir -p "$work"
started=$(date +%s)
echo "setup-vm32: building the machine for the 32-bit runs in $machine (from $mirror, a few minutes)"

ssh-keygen -q -t ed25519 -N '' -C tg-vm32 -f "$work/id_ed25519"
cp "$here/vm32/tg-vm-init" "$work/tg-vm-init"

# Inside the root: the Chinese locale, the 32-bit PE DLLs, the init, the key.
hook="set -e
root=\$1 work='$work'
$wine32_hook_steps
"'rm -rf "$root/var/lib/apt/lists/"*
install -m 0755 "$work/tg-vm-init" "$root/usr/local/sbin/tg-vm-init"
mkdir -p -m 0700 "$root/root/.ssh"
install -m 0600 "$work/id_ed25519.pub" "$root/root/.ssh/authorized_keys"
chroot "$root" ssh-keygen -A >/dev/null
printf "UseDNS no\nPermitRootLogin prohibit-password\nMaxSessions 64\nMaxStartups 64\n" \
    >"$root/etc/ssh/sshd_config.d/tg.conf"
echo tg-vm32 >"$root/etc/hostname"'

packages=linux-image-amd64,initramfs-tools,kmod,wine64,libwine,locales,xvfb,python3,python3-pyte
packages+=,openssh-server,iproute2,procps,util-linux,tini,fonts-wqy-microhei,osslsigncode,openssl,python3-pefile
# chattr, for the cases that make a folder nobody may change
packages+=,e2fsprogs
if ! mmdebstrap --quiet --variant=apt --include="$packages" \
    --customize-hook="$hook" trixie "$work/root" "deb $mirror trixie main" \
    >"$cache/build.log" 2>&1; then
  rm -rf "$work"
  fail "could not build the machine's root from $mirror (see $cache/build.log)"
fi
cp "$(ls "$work"/root/boot/vmlinuz-* | tail -n 1)" "$work/vmlinuz"
cp "$(ls "$work"/root/boot/initrd.img-* | tail -n 1)" "$work/initrd.img"
n=$(ls "$work/root/usr/lib/x86_64-linux-gnu/wine/i386-windows" | wc -l)
[ "$n" -gt 100 ] || fail "the machine has no 32-bit PE DLLs"
mke2fs -q -t ext4 -d "$work/root" -L tg-vm32 "$work/disk.img" 16G >>"$cache/build.log" 2>&1 ||
  fail "could not pack the disk image (see $cache/build.log)"
rm -rf "$work/root"
packed=$(date +%s)

# The Wine prefix, made once in the image itself and kept.
if ! TG_VM32_MACHINE=$work bash "$here/vm32.sh" prepare >>"$cache/build.log" 2>&1; then
  tail -n 20 "$cache/build.log" >&2
  fail "the machine did not make its Wine prefix (see $cache/build.log)"
fi
echo "$recipe" >"$work/.ready"
rm -rf "$machine"
mv "$work" "$machine"
echo "setup-vm32: ready: root and disk in $((packed - started)) s, Wine prefix in $(( $(date +%s) - packed )) s"

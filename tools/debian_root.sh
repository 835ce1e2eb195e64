# Shared by the Wine 10 root (setup-wine32.sh) and the machine for the 32-bit
# runs (setup-vm32.sh), both made with mmdebstrap from Debian 13.

# The Debian mirror this machine's apt already uses.
debian_mirror() {
  local mirror
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null |
    sed -n -E 's,^(deb|URIs:)[[:space:]]+(\[[^]]*\][[:space:]]+)?(https?://[^ ]+/debian)/?([[:space:]].*)?$,\3,p' |
    head -n 1 || true)
  mirror=${mirror:-http://deb.debian.org/debian}
  echo "${mirror%/}"
}

# Customize-hook steps (the root in $root): the Chinese locale, and the
# 32-bit PE DLLs of libwine:i386, unpacked, never installed.
# shellcheck disable=SC2016
wine32_hook_steps='sed -i "s/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/" "$root/etc/locale.gen"
grep -q "^zh_CN.UTF-8 UTF-8" "$root/etc/locale.gen" || echo "zh_CN.UTF-8 UTF-8" >>"$root/etc/locale.gen"
chroot "$root" locale-gen >/dev/null
chroot "$root" dpkg --add-architecture i386
chroot "$root" apt-get update -qq
mkdir -p "$root/tmp/libwine-i386"
chroot "$root" sh -c "cd /tmp/libwine-i386 && apt-get download -qq libwine:i386"
deb=$(ls "$root"/tmp/libwine-i386/libwine_*_i386.deb)
dpkg-deb -x "$deb" "$root/tmp/libwine-i386/x"
mkdir -p "$root/usr/lib/x86_64-linux-gnu/wine/i386-windows"
cp -a "$root/tmp/libwine-i386/x/usr/lib/i386-linux-gnu/wine/i386-windows/." \
      "$root/usr/lib/x86_64-linux-gnu/wine/i386-windows/"
rm -rf "$root/tmp/libwine-i386"
chroot "$root" apt-get clean'

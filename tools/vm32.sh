#!/usr/bin/env bash
# The machine of tools/setup-vm32.sh, for the 32-bit runs on a host whose
# kernel runs no 32-bit code (its own kernel does).
#
#   vm32.sh available           exit 0 when the machine can run here; else
#                               print why in one line and exit 1
#   vm32.sh start BUILD_DIR     boot it for that build tree: a copy-on-write
#                               overlay of the cached disk in BUILD_DIR/vm32,
#                               the work tree and BUILD_DIR shared in at the
#                               same paths (9p), SSH forwarded to a free port
#   vm32.sh run BUILD_DIR CMD.. run CMD in it, in the current folder, with a
#                               terminal and the TG_* variables; its exit code
#   vm32.sh stop BUILD_DIR      power it off, end qemu by its process ID and
#                               remove the overlay
#   vm32.sh prepare             (set-up only) boot the image itself once and
#                               make the Wine prefix it keeps
#
# qemu's software emulation runs it (TG_VM32_ACCEL=kvm asks for KVM). Inside, the build tree's Wine
# sessions live on the machine's own disk, in $GUEST_SESSIONS.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
cache=${TG_VM32_CACHE:-/var/cache/thistlegarden/vm32}
machine=${TG_VM32_MACHINE:-$cache/machine}
GUEST_SESSIONS=/var/lib/tg/win32

usage() { sed -n '4,20p' "$0" >&2; exit 2; }

# KVM only when asked for: a nested one was seen to fail at the guest's
# first instructions (an "emulation failure" in its decompressor).
kvm_usable() {
  [ "${TG_VM32_ACCEL:-tcg}" = kvm ] && [ -r /dev/kvm ] && [ -w /dev/kvm ]
}

accel_args() {   # kvm|tcg
  if [ "$1" = kvm ]; then
    # A nested KVM may refuse the host's IA32_ARCH_CAPABILITIES.
    echo "-accel kvm -cpu host,-arch-capabilities"
  else
    # The guest kernel oopses on the far return into 32-bit code under
    # qemu 7.2's emulation of SMAP, SMEP and PKU.
    echo "-accel tcg,thread=multi -cpu max,-smap,-smep,-pku"
  fi
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

ssh_to() {   # PORT ARGS...
  local port=$1
  shift
  ssh -i "$machine/id_ed25519" -p "$port" -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null \
    -o LogLevel=ERROR -o BatchMode=yes -o ConnectTimeout=5 -o ServerAliveInterval=15 \
    root@127.0.0.1 "$@"
}

# Boots DISK (FORMAT) with SHARES (paths), writing state into STATE_DIR;
# waits until SSH answers.
boot() {   # STATE_DIR DISK FORMAT SHARES...
  local state=$1 disk=$2 format=$3 port append n=0 path pid
  shift 3
  port=$(free_port)
  append="root=/dev/vda rw console=ttyS0 init=/usr/local/sbin/tg-vm-init panic=-1 net.ifnames=0 quiet"
  local virtfs=()
  for path in "$@"; do
    append+=" tg.share=tg$n:$path"
    virtfs+=(-virtfs "local,path=$path,mount_tag=tg$n,security_model=passthrough,id=tg$n")
    n=$((n + 1))
  done
  local accel=tcg
  kvm_usable && accel=kvm
  # shellcheck disable=SC2046
  qemu-system-x86_64 -nodefaults -nographic -no-reboot -m 4096 -smp 2 $(accel_args "$accel") \
    -kernel "$machine/vmlinuz" -initrd "$machine/initrd.img" -append "$append" \
    -drive "file=$disk,if=virtio,format=$format,cache=unsafe" \
    -netdev "user,id=n0,hostfwd=tcp:127.0.0.1:$port-:22" -device virtio-net-pci,netdev=n0 \
    "${virtfs[@]}" -serial "file:$state/console.log" -pidfile "$state/qemu.pid" -daemonize \
    >"$state/qemu.log" 2>&1 || { cat "$state/qemu.log" >&2; return 1; }
  pid=$(cat "$state/qemu.pid")
  printf 'QEMU_PID=%s\nSSH_PORT=%s\nACCEL=%s\n' "$pid" "$port" "$accel" >"$state/vm32.env"
  local t0=$SECONDS
  until ssh_to "$port" true 2>/dev/null; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "vm32: the machine stopped while booting; its console:" >&2
      tail -n 20 "$state/console.log" >&2
      return 1
    fi
    if [ $((SECONDS - t0)) -gt 300 ]; then
      echo "vm32: no SSH from the machine after 300 s; its console:" >&2
      tail -n 20 "$state/console.log" >&2
      return 1
    fi
    sleep 1
  done
  echo "BOOT_SECONDS=$((SECONDS - t0))" >>"$state/vm32.env"
}

# Powers off the machine of STATE_DIR and ends qemu by its process ID.
halt() {   # STATE_DIR
  local state=$1 pid port
  [ -f "$state/vm32.env" ] || return 0
  pid=$(sed -n 's/^QEMU_PID=//p' "$state/vm32.env")
  port=$(sed -n 's/^SSH_PORT=//p' "$state/vm32.env")
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    ssh_to "$port" 'sync; touch /run/tg-poweroff' >/dev/null 2>&1
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 25); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null
  fi
  rm -f "$state/vm32.env"
}

shares_for() {   # BUILD_DIR: the work tree, and the build tree when outside it
  echo "$repo"
  case $1/ in "$repo"/*) ;; *) echo "$1" ;; esac
}

cmd=${1:-}
case $cmd in
  available)
    why=$(bash "$here/setup-vm32.sh" --check) || { echo "$why"; exit 1; }
    command -v qemu-system-x86_64 >/dev/null || { echo "qemu-system-x86_64 is not installed"; exit 1; }
    exit 0
    ;;
  start)
    [ $# -eq 2 ] || usage
    build=$(cd "$2" && pwd) || exit 2
    state=$build/vm32
    mkdir -p "$state"
    halt "$state"
    rm -f "$state/overlay.qcow2"
    qemu-img create -q -f qcow2 -F raw -b "$machine/disk.img" "$state/overlay.qcow2" || exit 1
    mapfile -t shares < <(shares_for "$build")
    boot "$state" "$state/overlay.qcow2" qcow2 "${shares[@]}" || { halt "$state"; exit 1; }
    ;;
  run)
    [ $# -ge 3 ] || usage
    build=$(cd "$2" && pwd) || exit 2
    shift 2
    state=$build/vm32
    port=$(sed -n 's/^SSH_PORT=//p' "$state/vm32.env" 2>/dev/null)
    [ -n "$port" ] || { echo "vm32: no machine running for $build" >&2; exit 1; }
    # The test's variables, but for what only the host has: inside, Wine 10
    # is the machine's own and the sessions lie on its disk.
    vars=(TG_VM32_GUEST=1 "TG_SLOTS_ROOT=$GUEST_SESSIONS")
    # What takes a second on the host takes several under software
    # emulation: the harness waits that much longer.
    [ "$(sed -n 's/^ACCEL=//p' "$state/vm32.env")" = kvm ] ||
      vars+=("TG_WAIT_SCALE=${TG_VM32_WAIT_SCALE:-4}")
    for v in $(compgen -e); do
      case $v in
        TG_WINE_ROOT|TG_HOST32_PRETEND|TG_SESSION|TG_VM32_*|TG_SLOTS_ROOT|TG_WAIT_SCALE) ;;
        TG_*|CTEST_RESOURCE_GROUP_*|PYTHONDONTWRITEBYTECODE) vars+=("$v=${!v}") ;;
      esac
    done
    remote="cd $(printf %q "$PWD") && exec env$(printf ' %q' "${vars[@]}" "$@")"
    ssh_to "$port" -tt "$remote" </dev/null
    ;;
  stop)
    [ $# -eq 2 ] || usage
    build=$(cd "$2" 2>/dev/null && pwd) || exit 0
    state=$build/vm32
    halt "$state"
    rm -f "$state/overlay.qcow2"
    ;;
  prepare)
    state=$(mktemp -d)
    trap 'halt "$state"; rm -rf "$state"' EXIT
    boot "$state" "$machine/disk.img" raw "$repo" || exit 1
    port=$(sed -n 's/^SSH_PORT=//p' "$state/vm32.env")
    echo "vm32: booted in $(sed -n 's/^BOOT_SECONDS=//p' "$state/vm32.env") s; making the Wine prefix"
    ssh_to "$port" "mkdir -p $GUEST_SESSIONS && bash $(printf %q "$repo/tests/e2e/wine-session") start $GUEST_SESSIONS --slots 4 &&
      bash $(printf %q "$repo/tests/e2e/wine-session") stop $GUEST_SESSIONS && rm -rf $GUEST_SESSIONS/slots/*/wine-session.env && sync" ||
      exit 1
    ;;
  *) usage ;;
esac

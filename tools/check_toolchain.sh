#!/usr/bin/env bash
# Compares the installed Debian packages that decide the release's bytes
# with the versions committed in LIST (one "package version" a line; # starts
# a comment). The release built in CI is only comparable with one built
# elsewhere from the same commit when both hold.
#
#   check_toolchain.sh [LIST]           default .github/toolchain-debian12.txt
#   check_toolchain.sh --write [LIST]   LIST rewritten with the installed versions
#
# Prints each package whose installed version differs from the committed
# one, or that is not installed, and exits 1 then.
set -euo pipefail

write=0
if [ "${1:-}" = --write ]; then
  write=1
  shift
fi
list=${1:-$(cd "$(dirname "$0")/.." && pwd)/.github/toolchain-debian12.txt}

# "package version" of each package named, as installed here.
installed() {
  local name status version
  while read -r name _; do
    status=$(dpkg-query -W -f='${Status}' "$name" 2>/dev/null) || status=
    version=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) || version=
    if [ "$status" = "install ok installed" ] && [ -n "$version" ]; then
      echo "$name $version"
    else
      echo "$name -"
    fi
  done
}

committed=$(grep -v '^[[:space:]]*#' "$list" | awk 'NF { print $1, $2 }')
if [ -z "$committed" ]; then
  echo "check_toolchain: $list names no package" >&2
  exit 2
fi
now=$(installed <<<"$committed")

if [ "$write" = 1 ]; then
  { grep '^[[:space:]]*#' "$list" || true; echo "$now"; } >"$list.new"
  mv "$list.new" "$list"
  echo "check_toolchain: $list now holds the installed versions"
  exit 0
fi

if [ "$committed" = "$now" ]; then
  echo "check_toolchain: the $(wc -l <<<"$now") packages of $list are at the committed versions"
  exit 0
fi
echo "check_toolchain: the toolchain differs from $list:"
paste -d' ' <(echo "$committed") <(echo "$now") | while read -r name want _ got; do
  if [ "$got" = - ]; then
    echo "  $name: committed $want, not installed"
  elif [ "$want" != "$got" ]; then
    echo "  $name: committed $want, installed $got"
  fi
done
echo "check_toolchain: a release built with it is not comparable with one built with the committed toolchain"
exit 1

#!/usr/bin/env bash
# The image the windows-release workflow builds the release in: debian:12 by
# the digest committed in the workflow (DEBIAN12_DIGEST). Pulls it, prints
# the digest in use and the one the tag debian:12 has now, and hands the
# image on (image=, pinned= in GITHUB_OUTPUT when set).
#
#   build_image.sh          DEBIAN12_DIGEST: sha256:<64 hex digits>, or empty
#
# With a committed digest the build uses it, whatever the tag has moved to
# since (a notice says so); exit 1 when it is malformed or cannot be pulled.
# Without one the build uses what the tag names now, pinned=false, and the
# workflow's "pinned" job fails, naming the digest to commit.
set -euo pipefail

repo=debian
committed=${DEBIAN12_DIGEST:-}
if [ -n "$committed" ] && ! [[ $committed =~ ^sha256:[0-9a-f]{64}$ ]]; then
  echo "build_image: DEBIAN12_DIGEST is not a digest (sha256:<64 hex digits>): $committed" >&2
  exit 1
fi

# The repository digest docker records for a pulled image of $repo.
repo_digest() {
  docker image inspect --format '{{range .RepoDigests}}{{println .}}{{end}}' "$1" |
    sed -n "s|^$repo@\(sha256:[0-9a-f]\{64\}\)\$|\1|p" | head -n 1
}

docker pull -q "$repo:12" >/dev/null
now=$(repo_digest "$repo:12")
if [ -z "$now" ]; then
  echo "build_image: docker gives no digest for $repo:12" >&2
  exit 1
fi
echo "$repo:12 is now $now"

if [ -n "$committed" ]; then
  if ! docker pull -q "$repo@$committed" >/dev/null; then
    echo "build_image: the committed $repo@$committed cannot be pulled" >&2
    exit 1
  fi
  got=$(repo_digest "$repo@$committed")
  if [ "$got" != "$committed" ]; then
    echo "build_image: pulled $repo@$committed, docker records ${got:-no digest}" >&2
    exit 1
  fi
  used=$committed
  pinned=true
  if [ "$now" != "$committed" ]; then
    echo "::notice::debian:12 has moved on to $now; the release is still built in the committed $committed (README: On Windows itself)"
  fi
  echo "build image: $repo@$used (the committed digest)"
else
  used=$now
  pinned=false
  echo "::warning::no digest committed: the release is built in debian:12 as it is now, $now; commit it as DEBIAN12_DIGEST"
  echo "build image: $repo@$used (NOT committed)"
fi

if [ -n "${GITHUB_OUTPUT:-}" ]; then
  {
    echo "image=$repo@$used"
    echo "digest=$used"
    echo "pinned=$pinned"
  } >>"$GITHUB_OUTPUT"
fi

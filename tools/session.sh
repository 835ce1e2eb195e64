# Sourced by the test and demo commands: one run at a time in a work tree,
# and every Wine session a run started is ended when it exits, also when it
# fails or is interrupted.

# Refuses, with the PID of the run holding it, when another run of the test
# or demo command is going in this work tree.
claim_tree() {
  local lock=build/.run.lock
  mkdir -p build
  exec 8>>"$lock"
  if ! flock -n 8; then
    echo "$1: another test or demo run is going in this work tree ($(cat build/.run.owner 2>/dev/null));" \
      "wait for it to end or stop it, then run again" >&2
    exit 1
  fi
  echo "PID $$, $1, since $(date '+%F %T')" >build/.run.owner
}

_tg_sessions=()
_tg_end_sessions() {
  local status=$? b
  trap - EXIT INT TERM HUP
  for b in "${_tg_sessions[@]}"; do
    bash tests/e2e/wine-session stop "$b" >/dev/null 2>&1 || true
  done
  rm -f build/.run.owner
  exit "$status"
}

# Ends the Wine session of build tree $1 (Xvfb, wineserver and every Wine
# process of its prefix, by ID) when this shell exits.
end_wine_session_on_exit() {
  _tg_sessions+=("$1")
  trap _tg_end_sessions EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}

# Sourced by the test, demo and benchmark commands: one run at a time in a
# work tree, and whatever a run started is ended when it exits, also when it
# fails or is interrupted.

# Refuses, naming the run that holds it, when another run of these commands
# is going in this work tree.
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
  trap _tg_end EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}

_tg_sessions=()
_tg_child=
_tg_beside=()

# The process and everything below it, deepest first.
_tg_tree() {
  local c
  for c in $(ps -o pid= --ppid "$1" 2>/dev/null); do _tg_tree "$c"; done
  echo "$1"
}

_tg_stop_sessions() {
  local b
  for b in "${_tg_sessions[@]}"; do
    bash tests/e2e/wine-session stop "$b" >/dev/null 2>&1 || true
  done
}

_tg_end() {
  local status=$? c pids=
  trap - EXIT INT TERM HUP
  for c in "$_tg_child" "${_tg_beside[@]}"; do
    [ -z "$c" ] || pids="$pids $(_tg_tree "$c")"
  done
  # The run is frozen so that it starts nothing more; the wineservers end
  # their Wine processes while they still can; then the rest of the run goes.
  # shellcheck disable=SC2086
  [ -z "$pids" ] || kill -STOP $pids 2>/dev/null || true
  _tg_stop_sessions
  if [ -n "$pids" ]; then
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    # shellcheck disable=SC2086
    kill -CONT $pids 2>/dev/null || true
  fi
  rm -f build/.run.owner
  exit "$status"
}

# Ends the Wine session of build tree $1 (Xvfb, wineserver and every Wine
# process of its prefix, by ID) when this shell exits.
end_wine_session_on_exit() {
  _tg_sessions+=("$1")
}

# Runs a command so that a signal to this shell ends it (and all it started)
# at once instead of after it finishes.
guarded() {
  local status=0
  "$@" &
  _tg_child=$!
  wait "$_tg_child" || status=$?
  _tg_child=
  return "$status"
}

# Starts a command in the background, beside the run, ended with it as a
# guarded one is; its PID is in $! afterwards.
beside() {
  "$@" &
  _tg_beside+=("$!")
}

# Sourced by the benchmarks: a network namespace and a work directory of the
# script's own, removed with whatever it started there when the script ends,
# however it ends (killed with SIGKILL, it leaves only the empty namespace
# and the directory).
#   enter_namespace NAME    makes them: $netns (NAME-PID, loopback up), $work
#   inside COMMAND...       runs COMMAND in the namespace
#   start OUTPUT COMMAND... starts COMMAND there in the background, its output
#                           in OUTPUT; its process id is last in pids
#   stop_last               ends the last one started
# The clean-up also closes descriptors 3 and 4, which the scripts use for
# pipes into what they started.
pids=()
enter_namespace() {
  netns=$1-$$
  work=$(mktemp -d)
  chmod 755 "$work"
  trap cleanup EXIT
  trap 'exit 130' INT TERM HUP
  ip netns add "$netns"
  ip -n "$netns" link set lo up
}
cleanup() {
  exec 3>&- 4>&- 2>/dev/null || true
  # SIGKILL: unshare passes no other signal on, and nothing here needs a graceful end.
  kill -KILL "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  ip netns del "$netns" 2>/dev/null || true
  rm -rf "$work"
}
inside() { ip netns exec "$netns" "$@"; }
# The kernel kills what it started should the script die without its
# clean-up.
start() {
  local output=$1
  shift
  setpriv --pdeathsig KILL ip netns exec "$netns" "$@" > "$output" 2>&1 &
  pids+=($!)
}
stop_last() { kill -KILL "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true; unset 'pids[-1]'; }

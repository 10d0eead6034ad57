#!/usr/bin/env bash
# Processor time Palisard uses while idle, as a share of one core, and how
# often its threads wake up:
#   bench/idle_cpu.sh [SECONDS]       (default 60; run as root after
#                                      scripts/build.sh linux)
# Measured twice: with no game running, and beside an idle game stand-in with
# 18 players. Palisard runs in a private network namespace of its own. Both
# figures are summed over all its threads: scheduler time from schedstat,
# wake-ups as context switches. PALISARD_BIN and GAME_SIM_BIN name
# other builds to use. Nothing else named iw5mp.exe may run meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
palisard=${PALISARD_BIN:-$PWD/build/linux/src/palisard}
game_sim=${GAME_SIM_BIN:-$PWD/build/linux/tools/game-sim/game-sim}
work=$(mktemp -d)
netns=palisard-idle-$$
cleanup() {
  kill "${game_pid:-}" "${palisard_pid:-}" 2>/dev/null || true
  wait 2>/dev/null || true
  ip netns del "$netns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$netns"
ip -n "$netns" link set lo up
printf '[Palisard]\nCheckForUpdates=0\n' > "$work/Palisard.ini"

# "NANOSECONDS SWITCHES" on the processor so far, over every thread.
usage() {
  local ns=0 switches=0 run
  for task in /proc/"$1"/task/*; do
    read -r run _ < "$task/schedstat" || continue
    ns=$((ns + run))
    switches=$((switches + $(awk '/ctxt_switches/ { s += $2 } END { print s + 0 }' "$task/status")))
  done
  echo "$ns $switches"
}

measure() {
  local label=$1
  (cd "$work" && exec ip netns exec "$netns" "$palisard" < <(sleep $((seconds + 30))) > "$work/palisard.log") &
  palisard_pid=$!
  sleep 3  # start-up and, beside the game, the signature search
  local before after
  read -r -a before <<< "$(usage "$palisard_pid")"
  sleep "$seconds"
  read -r -a after <<< "$(usage "$palisard_pid")"
  kill "$palisard_pid"; wait "$palisard_pid" 2>/dev/null || true
  awk -v l="$label" -v ns=$((after[0] - before[0])) -v w=$((after[1] - before[1])) -v s="$seconds" \
    'BEGIN { printf "%s: %.3f%% of one core, %.1f wake-ups a second (%d in %d s)\n", l, ns / 1e7 / s, w / s, w, s }'
}

measure "no game"

{
  echo "own 76561197960287930"
  echo "server 198.18.0.1 28960"
  for slot in $(seq 0 17); do
    echo "join $slot $((76561197960287930 + slot)) 198.18.0.$((slot + 1)) 28960 Player$slot"
  done
  sleep $((seconds + 30))
} | "$game_sim" > /dev/null &
game_pid=$!
sleep 1
measure "beside an idle game stand-in"

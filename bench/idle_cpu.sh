#!/usr/bin/env bash
# Processor time Palisard uses while idle, as a share of one core:
#   bench/idle_cpu.sh [SECONDS]       (default 60; run as root after
#                                      scripts/build.sh linux)
# Measured twice: with no game running, and beside an idle game stand-in with
# 18 players. Palisard runs in a private network namespace of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
palisard=$PWD/build/linux/src/palisard
game_sim=$PWD/build/linux/tools/game-sim/game-sim
ticks_per_second=$(getconf CLK_TCK)
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

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

measure() {
  local label=$1
  (cd "$work" && exec ip netns exec "$netns" "$palisard" < <(sleep $((seconds + 30))) > "$work/palisard.log") &
  palisard_pid=$!
  sleep 3  # start-up and, beside the game, the signature search
  local before; before=$(cpu_ticks "$palisard_pid")
  sleep "$seconds"
  local after; after=$(cpu_ticks "$palisard_pid")
  kill "$palisard_pid"; wait "$palisard_pid" 2>/dev/null || true
  awk -v l="$label" -v t=$((after - before)) -v hz="$ticks_per_second" -v s="$seconds" \
    'BEGIN { printf "%s: %.3f%% of one core (%d ticks in %d s)\n", l, 100 * t / hz / s, t, s }'
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

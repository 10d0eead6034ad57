#!/usr/bin/env bash
# One client, sequential requests: Palisard's main page with 18 players
# against nginx serving the same bytes as a static file, in one run.
#   bench/web_bench.sh [SECONDS]   (default 10; root, after scripts/build.sh linux)
# Both close the connection after each answer, as Palisard always does.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
palisard=$PWD/build/linux/src/palisard
game_sim=$PWD/build/linux/tools/game-sim/game-sim
work=$(mktemp -d)
netns=palisard-web-$$
cleanup() {
  kill "${game_pid:-}" "${palisard_pid:-}" "${nginx_pid:-}" 2>/dev/null || true
  wait 2>/dev/null || true
  ip netns del "$netns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$netns"
ip -n "$netns" link set lo up
inside() { ip netns exec "$netns" "$@"; }

{
  echo "own 76561197960287930"
  echo "server 198.18.0.1 28960"
  for slot in $(seq 0 17); do
    echo "join $slot $((76561197960287930 + slot)) 198.18.0.$((slot + 1)) 28960 ^$((slot % 10))Player <$slot>"
  done
  for line in $(seq 1 8); do echo "chat Player$line: good game number $line"; done
  sleep $((seconds * 2 + 60))
} | "$game_sim" > /dev/null &
game_pid=$!
printf '[Palisard]\nCheckForUpdates=0\n' > "$work/Palisard.ini"
(cd "$work" && exec ip netns exec "$netns" "$palisard" < <(sleep $((seconds * 2 + 60))) > "$work/palisard.log") &
palisard_pid=$!
for _ in $(seq 50); do grep -q "Player <0>" "$work/palisard.log" 2>/dev/null && break; sleep 0.2; done
sleep 1

mkdir -p "$work/www"
inside curl -s http://127.0.0.1:3060/ -o "$work/www/index.html"
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_timeout 0;
  server {
    listen 127.0.0.1:8080;
    root $work/www;
    default_type text/html;
  }
}
CONF
inside nginx -c "$work/nginx.conf" &
nginx_pid=$!
sleep 1

echo "page: $(wc -c < "$work/www/index.html") bytes, 18 players"
run() {
  inside wrk -t1 -c1 -d"${seconds}s" --latency -H "Connection: close" "$1" |
    awk -v name="$2" '/^ +50%/ {p50=$2} /^ +99%/ {p99=$2} /Requests\/sec/ {rps=$2}
      END {printf "%-9s median %s  p99 %s  %s requests/s\n", name, p50, p99, rps}'
}
run http://127.0.0.1:3060/ palisard
run http://127.0.0.1:8080/index.html nginx

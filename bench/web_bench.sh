#!/usr/bin/env bash
# One client, sequential requests: Palisard's main page with 18 players
# against nginx serving the same bytes as a static file. ROUNDS rounds, each
# running both servers for SECONDS, in alternating order; the ratios
# (Palisard / nginx) of the median and of the p99 are taken per round and
# the median over the rounds is reported, so one noisy round does not decide.
#   bench/web_bench.sh [ROUNDS [SECONDS]]   (default 5 rounds of 2 s; root,
#                                           after scripts/build.sh linux)
# Both close the connection after each answer, as Palisard always does.
# Everything it starts runs in a network namespace of its own and ends with
# the script, however the script ends (killed with SIGKILL, it leaves only
# the empty namespace and a wrk run that ends within SECONDS).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
seconds=${2:-2}
palisard=$PWD/build/linux/src/palisard
game_sim=$PWD/build/linux/tools/game-sim/game-sim
source bench/namespace.sh
enter_namespace palisard-web

# The game stand-in and Palisard read their commands from pipes this script
# holds open, so nothing needs a sleeping writer that could outlive it. They
# share a PID namespace of their own: Palisard looks for the game among all
# processes it sees, and must not find another stand-in running on the
# machine. Ending that namespace's first process (unshare's child, killed
# when unshare ends) ends both.
mkfifo "$work/game.in" "$work/palisard.in"
exec 3<> "$work/game.in" 4<> "$work/palisard.in"
printf '[Palisard]\nCheckForUpdates=0\n' > "$work/Palisard.ini"
start /dev/null unshare --pid --fork --mount-proc --kill-child bash -c '
  cd "$1" || exit 1  # Palisard reads Palisard.ini from where it starts
  "$2" < game.in > /dev/null &
  "$3" < palisard.in > palisard.log
  wait' palisard-bench "$work" "$game_sim" "$palisard"
{
  echo "own 76561197960287930"
  echo "server 198.18.0.1 28960"
  for slot in $(seq 0 17); do
    echo "join $slot $((76561197960287930 + slot)) 198.18.0.$((slot + 1)) 28960 ^$((slot % 10))Player <$slot>"
  done
  for line in $(seq 1 8); do echo "chat Player$line: good game number $line"; done
} >&3
mkdir -p "$work/www"
# The watcher takes the players in over a few passes: wait for the last one.
for _ in $(seq 100); do
  inside curl -sf http://127.0.0.1:3060/ -o "$work/www/index.html" && grep -q "Player &lt;17&gt;" "$work/www/index.html" && break
  sleep 0.1
done
grep -q "Player &lt;17&gt;" "$work/www/index.html" || { echo "the page never showed 18 players" >&2; exit 1; }

source bench/nginx_conf.sh
write_nginx_conf "$work" text/html
start /dev/null nginx -p "$work" -e "$work/nginx-error.log" -c "$work/nginx.conf"
for _ in $(seq 50); do inside curl -sf http://127.0.0.1:8080/index.html -o "$work/nginx.html" && break; sleep 0.1; done
cmp -s "$work/www/index.html" "$work/nginx.html" || { echo "nginx does not serve the page" >&2; exit 1; }

# wrk reports microseconds and any failed or non-2xx answers. Not read
# errors: wrk counts one for every answer whose end is the connection's end
# (Palisard sends no Content-Length), after timing it.
cat > "$work/report.lua" <<'LUA'
done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("%d %d %d %d\n", latency:percentile(50), latency:percentile(99),
    summary.requests, e.connect + e.write + e.status + e.timeout))
end
LUA
declare -A url=([palisard]=http://127.0.0.1:3060/ [nginx]=http://127.0.0.1:8080/index.html)
measure() {  # SERVER DURATION -> "median p99 requests errors"
  inside wrk -t1 -c1 -d"$2" -H "Connection: close" -s "$work/report.lua" "${url[$1]}" | tail -1
}
measure palisard 1s > /dev/null  # warm-up
measure nginx 1s > /dev/null

echo "page: $(wc -c < "$work/www/index.html") bytes, 18 players; $rounds rounds of ${seconds} s a server"
printf '%-6s %-27s %-27s %s\n' round "palisard median/p99 (µs)" "nginx median/p99 (µs)" "ratios median/p99"
median_ratios=()
p99_ratios=()
for round in $(seq "$rounds"); do
  order=(palisard nginx)
  ((round % 2)) || order=(nginx palisard)
  declare -A result=()
  for server in "${order[@]}"; do result[$server]=$(measure "$server" "${seconds}s"); done
  read -r p_med p_p99 p_req p_err <<< "${result[palisard]}"
  read -r n_med n_p99 n_req n_err <<< "${result[nginx]}"
  if ((p_err + n_err > 0)); then echo "round $round: $p_err failed answers from palisard, $n_err from nginx" >&2; exit 1; fi
  m=$(awk -v a="$p_med" -v b="$n_med" 'BEGIN {printf "%.2f", a / b}')
  p=$(awk -v a="$p_p99" -v b="$n_p99" 'BEGIN {printf "%.2f", a / b}')
  median_ratios+=("$m")
  p99_ratios+=("$p")
  printf '%-6s %-26s %-26s %s\n' "$round" "$p_med / $p_p99 ($((p_req / seconds))/s)" \
    "$n_med / $n_p99 ($((n_req / seconds))/s)" "$m / $p"
done
middle() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
echo "palisard / nginx over $rounds rounds: median $(middle "${median_ratios[@]}")x (goal at most 1.5x)," \
  "p99 $(middle "${p99_ratios[@]}")x (goal at most 3x)"

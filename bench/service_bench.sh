#!/usr/bin/env bash
# palisard-service as the players' copies load it, measured beside nginx:
#   bench/service_bench.sh [ROUNDS [SECONDS [CONNECTIONS]]]
#     (default 3 rounds of 5 s, 8 connections; root, after
#      scripts/build.sh release palisard-service)
# 1. GetBanList of 18 ids (6 of them banned, some reported), one request per
#    new connection as the client makes it, from wrk with CONNECTIONS
#    connections: requests per second, median and p99, on SQLite and on
#    PostgreSQL (a throw-away cluster, tests/with-postgres.sh), each against
#    nginx serving the same answer's bytes as a static file in the same run
#    (rounds alternate the two; the median round is reported).
# 2. 10,000 idle connections held (50 from each of 200 addresses): the time
#    a new GetBanList takes, and the service's resident memory.
# 3. slowhttptest (when installed: apt-get install slowhttptest), slow
#    headers and then slow bodies from 4,000 connections: the slowest of the
#    normal requests made meanwhile, one every half second.
# Everything runs in a network namespace of its own and ends with the script.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${PALISARD_TEST_POSTGRES_URL:-}" ]; then exec tests/with-postgres.sh "$PWD/bench/service_bench.sh" "$@"; fi
rounds=${1:-3}
seconds=${2:-5}
connections=${3:-8}
service=$PWD/build/release/src/service/palisard-service
[ -x "$service" ] || { echo "no $service: scripts/build.sh release palisard-service" >&2; exit 1; }
source bench/namespace.sh
enter_namespace palisard-service-bench
# serve DATABASE [OPTION...]: the service on 127.0.0.1:80, once it answers
# (its moderation pages on a port of the system's choice: nginx has 8080);
# its process is the last started (setpriv and ip netns exec exec it).
serve() {
  local database=$1
  shift
  start "$work/service.log" "$service" serve --listen 127.0.0.1:80 --moderation-listen 127.0.0.1:0 \
    --database "$database" "$@"
  for _ in $(seq 100); do grep -q "serving the ban contract" "$work/service.log" && return; sleep 0.05; done
  cat "$work/service.log" >&2
  exit 1
}

ids=()
for i in $(seq 0 17); do ids+=($((76561198000000001 + i))); done
{
  printf '<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"'
  printf ' xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/">'
  printf '<soap:Body><GetBanList xmlns="rosterhall"><CommunityIds>'
  printf '<string>%s</string>' "${ids[@]}"
  printf '</CommunityIds></GetBanList></soap:Body></soap:Envelope>'
} > "$work/request.xml"
url=http://127.0.0.1/banservices/GetBanList.asmx
ask() {  # one GetBanList as the client asks it; prints the answer
  inside curl -sf -H 'Content-Type: text/xml; charset=utf-8' -H 'SOAPAction: "rosterhall/GetBanList"' \
    -H 'Connection: close' --data-binary "@$work/request.xml" "$url"
}
seconds_taken() {  # one GetBanList from another address; prints the seconds it took, or "failed"
  inside curl -s -o /dev/null --interface 127.0.0.2 -w '%{http_code} %{time_total}\n' -H 'SOAPAction: "rosterhall/GetBanList"' \
    --max-time 5 --data-binary "@$work/request.xml" "$url" | awk '$1 == 200 {print $2; next} {print "failed"}'
}
# Six of the 18 ids banned, six others reported.
prepare() {
  local database=$1 i
  for i in 0 3 6 9 12 15; do "$service" ban "${ids[$i]}" --reason bench --database "$database" > /dev/null; done
  for i in 1 4 7 10 13 16; do
    inside curl -sf -o /dev/null -H 'SOAPAction: rosterhall/AddInfraction' --data-binary \
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><AddInfraction xmlns=\"rosterhall\"><ReporterCommunityId>${ids[0]}</ReporterCommunityId><ReportedCommunityId>${ids[$i]}</ReportedCommunityId></AddInfraction></s:Body></s:Envelope>" \
      "$url"
  done
}

source bench/nginx_conf.sh
write_nginx_conf "$work" text/xml
mkdir -p "$work/www"
start /dev/null nginx -p "$work" -e "$work/nginx-error.log" -c "$work/nginx.conf"

# wrk: a POST with the client's body and headers for the service, a plain
# GET for nginx; both close the connection after each answer.
lua_string() { printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g'; }
cat > "$work/service.lua" <<LUA
wrk.method = "POST"
wrk.body = "$(lua_string "$(cat "$work/request.xml")")"
wrk.headers["Content-Type"] = "text/xml; charset=utf-8"
wrk.headers["SOAPAction"] = "\"rosterhall/GetBanList\""
wrk.headers["Connection"] = "close"
LUA
cat > "$work/nginx.lua" <<'LUA'
wrk.headers["Connection"] = "close"
LUA
for script in service nginx; do
  cat >> "$work/$script.lua" <<'LUA'
done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("%d %.0f %d %d connect:%d,write:%d,status:%d,timeout:%d\n", summary.requests,
    latency:percentile(50), latency:percentile(99), e.connect + e.write + e.status + e.timeout,
    e.connect, e.write, e.status, e.timeout))
end
LUA
done
declare -A target=([service]=$url [nginx]=http://127.0.0.1:8080/answer.xml)
measure() {  # SERVER DURATION -> "requests median_us p99_us errors"
  inside wrk -t1 -c"$connections" -d"$2" -s "$work/$1.lua" "${target[$1]}" | tail -1
}
# The median of numbers, one a line.
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "palisard-service $("$service" --version | cut -d' ' -f2), GetBanList of 18 ids, one request a connection,"
echo "wrk with $connections connections, $rounds rounds of $seconds s a server; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %-8s %10s %10s %10s   %s\n' store server "requests/s" "p50 (ms)" "p99 (ms)" "rate / nginx's"
for store in sqlite postgresql; do
  if [ "$store" = sqlite ]; then
    database=$work/bench.db
  else
    database=${PALISARD_TEST_POSTGRES_URL/\/postgres\?/\/bench?}
    psql -q "$PALISARD_TEST_POSTGRES_URL" -c "CREATE DATABASE bench" > /dev/null
  fi
  serve "$database"
  prepare "$database"
  ask > "$work/www/answer.xml"
  grep -c "<IsBanned>true</IsBanned>" "$work/www/answer.xml" | grep -qx 6 || { echo "unexpected answer" >&2; exit 1; }
  measure service 1s > /dev/null
  measure nginx 1s > /dev/null
  declare -A results=([service]="" [nginx]="")
  for round in $(seq "$rounds"); do
    order=(service nginx)
    ((round % 2)) || order=(nginx service)
    for server in "${order[@]}"; do
      read -r requests p50 p99 errors kinds <<< "$(measure "$server" "${seconds}s")"
      if ((errors > 0)); then
        echo "$server: $errors failed requests ($kinds)" >&2
        tail -5 "$work/service.log" >&2
        exit 1
      fi
      results[$server]+="$((requests / seconds)) $p50 $p99"$'\n'
    done
  done
  column() { printf '%s' "${results[$1]}" | cut -d' ' -f"$2" | median; }
  nginx_rate=$(column nginx 1)
  for server in service nginx; do
    printf '%-10s %-8s %10s %10.2f %10.2f   %s\n' "$store" "$server" "$(column "$server" 1)" \
      "$(awk -v v="$(column "$server" 2)" 'BEGIN {print v / 1000}')" \
      "$(awk -v v="$(column "$server" 3)" 'BEGIN {print v / 1000}')" \
      "$(awk -v a="$(column "$server" 1)" -v b="$nginx_rate" 'BEGIN {printf "%.2f", a / b}')"
  done
  stop_last
done
echo "answer: $(wc -c < "$work/www/answer.xml") bytes (goal: at least half of nginx's rate, p99 under 20 ms)"

# 2. Idle connections: the header deadline raised so that they stay.
serve "$work/bench.db" --header-deadline 300
pid=${pids[-1]}
rss() { awk '/^VmRSS:/ {printf "%.1f MB", $2 / 1024}' "/proc/$pid/status"; }
echo
echo "idle: resident before $(rss)"
exec 3> >(inside /usr/bin/python3 bench/hold_connections.py 127.0.0.1 80 10000 50 > "$work/held.log" 2>&1)
for _ in $(seq 600); do grep -q "^held" "$work/held.log" && break; sleep 0.1; done
grep "^held" "$work/held.log" || { cat "$work/held.log" >&2; exit 1; }
sleep 1
open=$(($(ls "/proc/$pid/fd" | wc -l)))
times=$(for _ in $(seq 20); do seconds_taken; sleep 0.05; done)
echo "with 10,000 idle connections ($open descriptors open in the service): resident $(rss);" \
  "a new GetBanList took median $(median <<< "$times" | awk '{printf "%.1f", $1 * 1000}') ms," \
  "slowest $(sort -g <<< "$times" | tail -1 | awk '{printf "%.1f", $1 * 1000}') ms of 20 (goal 100 ms, 200 MB)"
exec 3>&-
for _ in $(seq 50); do grep -q "^closed" "$work/held.log" && break; sleep 0.1; done
grep "^closed" "$work/held.log" || true
stop_last

# 3. Slow clients.
if ! command -v slowhttptest > /dev/null; then
  echo "slowhttptest is not installed (apt-get install slowhttptest): no slow-client figures"
  exit 0
fi
serve "$work/bench.db"
echo
for mode in -H -B; do
  start "$work/slow.log" slowhttptest "$mode" -c 4000 -r 400 -i 5 -l 20 -s 8192 -u "$url" -p 3
  sleep 8
  times=$(for _ in $(seq 20); do seconds_taken; sleep 0.5; done)
  stop_last
  echo "slowhttptest $mode (4,000 connections at 400 a second, a byte every 5 s): normal GetBanList median" \
    "$(median <<< "$times" | awk '{printf "%.1f", $1 * 1000}') ms, slowest $(sort -g <<< "$times" | tail -1 |
      awk '{printf "%.1f", $1 * 1000}') ms of 20 (goal 1 s); failed: $(grep -c failed <<< "$times" || true)"
done

#!/usr/bin/env bash
# palisard-service as the players' copies load it, measured beside nginx:
#   bench/service_bench.sh [ROUNDS [SECONDS [CONNECTIONS]]]
#     (default 3 rounds of 5 s, 8 connections; root, after
#      scripts/build.sh linux palisard-service sightings_month)
# PARTS (default "contract idle slow bans sightings webhooks") picks the parts below;
# BUILDS (default "build/linux") names the builds the last two measure, one
# after the other in the same run, as NAME=DIR words ("before=DIR after=DIR")
# or plain directories; the first build serves the others.
# 1. contract: GetBanList of 18 ids (6 of them banned, some reported), one request per
#    new connection as the client makes it, from wrk with CONNECTIONS
#    connections: requests per second, median and p99, on SQLite and on
#    PostgreSQL (a throw-away cluster, tests/with-postgres.sh), each against
#    nginx serving the same answer's bytes as a static file in the same run
#    (rounds alternate the two; the median round is reported).
# 2. idle: 10,000 idle connections held (50 from each of 200 addresses): the time
#    a new GetBanList takes, and the service's resident memory.
# 3. slow: slowhttptest (when installed: apt-get install slowhttptest), slow
#    headers and then slow bodies from 4,000 connections: the slowest of the
#    normal requests made meanwhile, one every half second.
# 4. bans: GetBanList with ids drawn as hosts ask them, 18 new ones each
#    request (one in ten of them banned), from SQLite holding 10,000 and
#    then 1,000,000 bans, each beside nginx; the rate at 1,000,000 bans over
#    the rate at 10,000.
# 5. sightings: a month of a 10,000-player community's sightings
#    (bench/sightings_month.cpp; SIGHTING_DAYS sets the days, 30) in
#    SQLite: each table's rows and size.
# 6. webhooks: 10,000 events (reports that each open a case) delivered to a
#    standard endpoint on loopback (bench/webhook_sink.mjs, node): events a
#    second; then GetBanList as in 1 without deliveries and while 10,000
#    are being delivered to a receiver that answers in 2 s, in the same run
#    (WEBHOOK_EVENTS sets the 10,000).
# Everything runs in a network namespace of its own and ends with the script.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${PALISARD_TEST_POSTGRES_URL:-}" ]; then exec tests/with-postgres.sh "$PWD/bench/service_bench.sh" "$@"; fi
rounds=${1:-3}
seconds=${2:-5}
connections=${3:-8}
parts=" ${PARTS:-contract idle slow bans sightings webhooks} "
part() { [[ $parts == *" $1 "* ]]; }
builds=(${BUILDS:-build/linux})
build_dir() { local dir=${1#*=}; [[ $dir == /* ]] && echo "$dir" || echo "$PWD/$dir"; }
build_name() { [[ $1 == *=* ]] && echo "${1%%=*}" || echo "$1"; }
for build in "${builds[@]}"; do
  for program in src/service/palisard-service bench/sightings_month; do
    [ -x "$(build_dir "$build")/$program" ] ||
      { echo "no $(build_dir "$build")/$program: scripts/build.sh linux palisard-service sightings_month" >&2; exit 1; }
  done
done
service=$(build_dir "${builds[0]}")/src/service/palisard-service
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

# rounds LABEL SCRIPT: alternating rounds of the service (wrk with
# SCRIPT.lua) and of nginx; prints the medians' rows, the first labelled.
rounds() {
  local label=$1 script=$2 round server requests p50 p99 errors kinds nginx_rate
  declare -A results=([$script]="" [nginx]="")
  measure "$script" 1s > /dev/null
  measure nginx 1s > /dev/null
  for round in $(seq "$rounds"); do
    order=("$script" nginx)
    ((round % 2)) || order=(nginx "$script")
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
  for server in "$script" nginx; do
    printf '%-22s %-8s %10s %10.2f %10.2f   %s\n' "$label" "${server/$script/service}" "$(column "$server" 1)" \
      "$(awk -v v="$(column "$server" 2)" 'BEGIN {print v / 1000}')" \
      "$(awk -v v="$(column "$server" 3)" 'BEGIN {print v / 1000}')" \
      "$(awk -v a="$(column "$server" 1)" -v b="$nginx_rate" 'BEGIN {printf "%.2f", a / b}')"
    label=""
  done
  rate=$(column "$script" 1)
  share=$(awk -v a="$rate" -v b="$nginx_rate" 'BEGIN {print a / b}')
}
heading() { printf '%-22s %-8s %10s %10s %10s   %s\n' "$1" server "requests/s" "p50 (ms)" "p99 (ms)" "rate / nginx's"; }

echo "palisard-service $("$service" --version | cut -d' ' -f2), one request a connection, wrk with $connections"
echo "connections, $rounds rounds of $seconds s a server; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
if part contract; then
  echo
  echo "GetBanList of the same 18 ids"
  heading store
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
    rounds "$store" service
    stop_last
  done
  echo "answer: $(wc -c < "$work/www/answer.xml") bytes (goal: at least half of nginx's rate, p99 under 20 ms)"
fi

# 2. Idle connections: the header deadline raised so that they stay.
if part idle; then
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
fi

# 3. Slow clients.
if part slow && ! command -v slowhttptest > /dev/null; then
  echo "slowhttptest is not installed (apt-get install slowhttptest): no slow-client figures"
elif part slow; then
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
  stop_last
fi

# 4. Ids drawn as hosts ask them: 18 new ones each request, from a range ten
# times the bans', whose every tenth id is banned. Community ids are longer
# than wrk's Lua numbers hold exactly, so they are written as text.
drawn_request() {  # RANGE: one request's body
  local i
  printf '<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/">'
  printf '<soap:Body><GetBanList xmlns="rosterhall"><CommunityIds>'
  for i in $(seq 18); do printf '<string>76561198%09d</string>' $(((RANDOM * 32768 + RANDOM) % $1 + 1)); done
  printf '</CommunityIds></GetBanList></soap:Body></soap:Envelope>'
}
if part bans; then
  echo
  echo "GetBanList of 18 ids drawn as hosts ask them (each request new ones, one in ten banned), SQLite"
  heading "build, bans"
  target[hosts]=$url
  for build in "${builds[@]}"; do
    service=$(build_dir "$build")/src/service/palisard-service
    declare -A ban_rates=() ban_shares=()
    for bans in 10000 1000000; do
      database=$work/bans-$(build_name "$build" | tr -c 'a-z0-9\n' -)-$bans.db
      seq -f '76561198%09.0f' 10 10 $((bans * 10)) > "$work/banned.txt"
      serve "$database"
      "$service" import "$work/banned.txt" --database "$database" > /dev/null
      cat > "$work/hosts.lua" <<LUA
wrk.method = "POST"
wrk.headers["Content-Type"] = "text/xml; charset=utf-8"
wrk.headers["SOAPAction"] = "\"rosterhall/GetBanList\""
wrk.headers["Connection"] = "close"
local head = '<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body><GetBanList xmlns="rosterhall"><CommunityIds>'
local tail = '</CommunityIds></GetBanList></soap:Body></soap:Envelope>'
math.randomseed($RANDOM)
request = function()
  local ids = {}
  for i = 1, 18 do ids[i] = string.format("<string>76561198%09d</string>", math.random(1, $((bans * 10)))) end
  return wrk.format(nil, nil, nil, head .. table.concat(ids) .. tail)
end
LUA
      sed -n '/^done = function/,$p' "$work/nginx.lua" >> "$work/hosts.lua"
      drawn_request $((bans * 10)) > "$work/drawn.xml"
      inside curl -sf -H 'SOAPAction: "rosterhall/GetBanList"' --data-binary "@$work/drawn.xml" "$url" \
        > "$work/www/answer.xml"
      rounds "$(build_name "$build"), $bans" hosts
      ban_rates[$bans]=$rate
      ban_shares[$bans]=$share
      stop_last
    done
    # Also over nginx's in the same rounds, which takes out what the
    # machine's other work did meanwhile.
    echo "$(build_name "$build"): the rate at 1,000,000 bans is $(awk -v a="${ban_rates[1000000]}" \
      -v b="${ban_rates[10000]}" 'BEGIN {printf "%.2f", a / b}') of the rate at 10,000 (goal: at least 0.9);" \
      "as shares of nginx's, $(awk -v a="${ban_shares[1000000]}" -v b="${ban_shares[10000]}" \
        'BEGIN {printf "%.2f", a / b}')"
  done
fi

# 5. A month of sightings: each table's rows and size with its indexes, of
# every table that holds any.
if part sightings; then
  echo
  echo "${SIGHTING_DAYS:-30} days of sightings of a 10,000-player community (bench/sightings_month.cpp), SQLite"
  for build in "${builds[@]}"; do
    database=$work/sightings-$(build_name "$build" | tr -c 'a-z0-9\n' -).db
    started=$(date +%s)
    "$(build_dir "$build")/bench/sightings_month" "$database" "${SIGHTING_DAYS:-30}" > "$work/month.log"
    sqlite3 "$database" "PRAGMA wal_checkpoint(TRUNCATE)" > /dev/null
    echo "$(build_name "$build"): written in $(($(date +%s) - started)) s, the file $(du -m "$database" | cut -f1) MB"
    for table in $(sqlite3 "$database" "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name"); do
      rows=$(sqlite3 "$database" "SELECT COUNT(*) FROM \"$table\"")
      ((rows > 0)) || continue
      sqlite3 "$database" "SELECT printf('  %-16s %10d rows %8.1f MB', '$table', $rows, SUM(d.pgsize) / 1e6)
        FROM dbstat d JOIN sqlite_schema s ON s.name = d.name WHERE s.tbl_name = '$table'"
    done
  done
fi

# 6. Webhooks: events from reports, each of a player of its own (the
# network's report limits raised), to sinks on loopback.
if part webhooks; then
  echo
  echo "Webhooks: events from reports to a standard endpoint on loopback (plain HTTP), SQLite"
  service=$(build_dir "${builds[0]}")/src/service/palisard-service
  start "$work/fast.log" node bench/webhook_sink.mjs 9001 0
  start "$work/slow.log" node bench/webhook_sink.mjs 9002 2000
  for sink in fast slow; do
    for _ in $(seq 100); do grep -q listening "$work/$sink.log" && break; sleep 0.05; done
  done
  delivered() { grep -c took "$work/$1.log" || true; }
  endpoint() {  # DATABASE PORT
    "$service" webhook add "http://127.0.0.1:$2/" --format standard --webhook-allow-private --database "$1" > /dev/null
  }
  reports() {  # FIRST COUNT
    inside /usr/bin/python3 bench/send_reports.py 80 "$1" "$2" > /dev/null
  }
  events=${WEBHOOK_EVENTS:-10000}
  options=(--webhook-allow-private --network-burst 1000000 --network-per-hour 1000000)
  serve "$work/webhooks-rate.db" "${options[@]}"
  endpoint "$work/webhooks-rate.db" 9001
  started=$(date +%s.%N)
  reports 76561198500000000 "$events"
  written=$(date +%s.%N)
  by_then=$(delivered fast)
  for _ in $(seq 1200); do (($(delivered fast) >= events)) && break; sleep 0.1; done
  ended=$(date +%s.%N)
  echo "$(delivered fast) of $events events delivered $(awk -v a="$started" -v b="$ended" 'BEGIN {printf "%.1f", b - a}') s" \
    "after the first report ($(awk -v a="$started" -v b="$written" 'BEGIN {printf "%.1f", b - a}') s to write them):" \
    "$(awk -v a="$started" -v b="$ended" -v n="$(delivered fast)" 'BEGIN {printf "%.0f", n / (b - a)}') events a second;" \
    "$by_then of them by the time the last was written"
  stop_last

  echo "GetBanList of the same 18 ids, beside $events events to a receiver that answers in 2 s"
  heading deliveries
  database=$work/webhooks-slow.db
  serve "$database" "${options[@]}"
  prepare "$database"
  ask > "$work/www/answer.xml"
  reports 76561198600000000 "$events"
  rounds "none" service
  endpoint "$database" 9002
  reports 76561198700000000 "$events"
  rounds "$events under way" service
  echo "delivered to the slow receiver meanwhile: $(delivered slow) (4 at a time, 2 s each)"
  stop_last
fi

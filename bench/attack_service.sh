#!/usr/bin/env bash
# A stranger's attacks on palisard-service, replayed against the service as
# the README deploys it on the open internet: nginx in front of both ports
# (the public port plain on 80, the moderation pages with TLS on 8443, a
# certificate of its own), the README's settings for it (moderation-host,
# trusted-proxy), PostgreSQL (a throw-away cluster, tests/with-postgres.sh).
#   bench/attack_service.sh      (root, after scripts/build.sh release palisard-service)
# One line each, "ok" or "FAIL" first; the exit status is 1 when one failed:
# - 20 wrong passwords for a moderator from a stranger's network, then hers
#   from the network she signed in from before: signed in;
# - 256 idle connections to the moderation port from one address and 200
#   networks signing in at once: her queue answers within 1 s;
# - an appeal sent from another site's page: refused, nothing recorded;
# - 600 appeals from 200 networks: the queue under 200 KB, the oldest
#   report case on it;
# - Host: evil.example on the moderation port: 403;
# - 20 visits without a session and 20 with a made-up one: the store keeps
#   its database connections;
# - a report whose only host request came from the reporter's network: not
#   "seen";
# - 30,000 refused sign-ins from one address: no audit row at once, at most
#   6 per kind of refusal and 15-minute window once folded.
# The clients come from many networks: IPv4 /24s (127.N.M.x, all on
# loopback) and IPv6 /64s (fd00:0:0:N::1, added to loopback). The refused
# sign-ins go second and their line comes last: refusals reach the audit
# folded once their window has ended, so the script waits for that (up to a
# quarter of an hour) and then restarts the service, whose prune at start
# folds them. Everything runs in a network namespace of its own and ends
# with the script.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${PALISARD_TEST_POSTGRES_URL:-}" ]; then exec tests/with-postgres.sh "$PWD/bench/attack_service.sh" "$@"; fi
service=$PWD/build/release/src/service/palisard-service
[ -x "$service" ] || { echo "no $service: scripts/build.sh release palisard-service" >&2; exit 1; }
source bench/namespace.sh
enter_namespace palisard-attack
echo "palisard-service $("$service" --version | cut -d' ' -f2) behind nginx; $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
failed=0
# Statuses, one a line, as "5 answered 401, 15 answered 429".
tally() { sort | uniq -c | awk '{printf "%s%d answered %s", (NR > 1 ? ", " : ""), $1, $2}'; }
# verdict GOOD TEXT: one line, "ok" when GOOD is 1.
verdict() {
  if [ "$1" = 1 ]; then printf 'ok    %s\n' "$2"; else printf 'FAIL  %s\n' "$2"; failed=1; fi
}

# Two hundred networks, half IPv4 /24s and half IPv6 /64s.
networks=()
for n in $(seq 100); do
  ip -n "$netns" -6 addr add "fd00:0:0:$n::1/64" dev lo nodad
  networks+=("127.40.$n.1" "fd00:0:0:$n::1")
done

# The README's proxy and settings.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=mod.example.org \
  -addext subjectAltName=DNS:mod.example.org -keyout "$work/key.pem" -out "$work/cert.pem" 2> /dev/null
cat > "$work/palisard-service.conf" <<CONF
moderation-host = mod.example.org
trusted-proxy = 127.0.0.1
CONF
source bench/nginx_conf.sh
nginx_conf "$work" "  server {
    listen 80;
    listen [::]:80;
    location / {
      proxy_pass http://127.0.0.1:8081;
      proxy_set_header Host \$http_host;
      proxy_set_header X-Forwarded-For \$proxy_add_x_forwarded_for;
    }
  }
  server {
    listen 8443 ssl;
    listen [::]:8443 ssl;
    server_name mod.example.org;
    ssl_certificate     $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    location / {
      proxy_pass http://127.0.0.1:8080;
      proxy_set_header Host \$http_host;
      proxy_set_header X-Forwarded-For \$proxy_add_x_forwarded_for;
      proxy_set_header X-Forwarded-Proto \$scheme;
    }
  }"
start /dev/null nginx -p "$work" -e "$work/nginx-error.log" -c "$work/nginx.conf"

database=${PALISARD_TEST_POSTGRES_URL/\/postgres\?/\/attack?}
psql -q "$PALISARD_TEST_POSTGRES_URL" -c "CREATE DATABASE attack"
sql() { psql -qAt "$database" -c "$1"; }
cli() { "$service" "$@" --database "$database"; }
# The service, once it serves; its process id in service_pid.
serve() {
  start "$work/service.log" "$service" serve --config "$work/palisard-service.conf" --listen 127.0.0.1:8081 \
    --moderation-listen 127.0.0.1:8080 --database "$database"
  service_pid=${pids[-1]}
  for _ in $(seq 100); do grep -q "serving the ban contract" "$work/service.log" && return; sleep 0.05; done
  cat "$work/service.log" >&2
  exit 1
}
serve

# curl from an address of the namespace through the proxy: the pages, or
# the public port.
request() {
  local source=$1 nginx=127.0.0.1
  shift
  case "$source" in *:*) nginx="[::1]" ;; esac
  inside curl -sk -m 20 --interface "$source" --resolve "mod.example.org:8443:$nginx" \
    --resolve "bans.example.org:80:$nginx" "$@" || true  # a failed request shows in its status, 000
}
pages=https://mod.example.org:8443
public=http://bans.example.org
# signin SOURCE NAME PASSWORD [CURL-ARGUMENTS...]: the status.
signin() {
  local source=$1 name=$2 password=$3
  shift 3
  request "$source" -o /dev/null -w '%{http_code}\n' -H "Origin: $pages" --data "name=$name&password=$password" \
    "$@" "$pages/signin"
}
# report SOURCE REPORTER REPORTED / asked SOURCE ID...: a player's report,
# and a host's ban request about the ids, as the players' copies send them.
soap() {
  local source=$1 operation=$2 body=$3
  request "$source" -o /dev/null -H "Content-Type: text/xml; charset=utf-8" \
    -H "SOAPAction: \"rosterhall/$operation\"" --data-binary \
    "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>\
<$operation xmlns=\"rosterhall\">$body</$operation></s:Body></s:Envelope>" \
    "$public/banservices/GetBanList.asmx"
}
report() {
  soap "$1" AddInfraction "<ReporterCommunityId>$2</ReporterCommunityId><ReportedCommunityId>$3</ReportedCommunityId>"
}
asked() {
  local source=$1 ids=""
  shift
  for id in "$@"; do ids+="<string>$id</string>"; done
  soap "$source" GetBanList "<CommunityIds>$ids</CommunityIds>"
}
# The queue as alice sees it.
queue() { request 127.10.0.5 -H "Cookie: $cookie" "$@" "$pages/queue"; }
# The evidence of REPORTER's report on the queue: "seen" or "unseen".
evidence() {
  queue | tr '\n' ' ' | sed 's#</tr>#\n#g' | grep "/player/$1\"" | grep -o 'class="\(un\)\{0,1\}seen"' |
    cut -d'"' -f2 || true
}

# alice, a moderator, signed in before from her network at home,
# 127.10.0.0/24; the oldest report case is there before the attacks.
password="alice's own long secret"
printf '%s\n' "$password" | cli moderator add alice --admin > /dev/null
[ "$(signin 127.10.0.5 alice "$password")" = 303 ] || { echo "alice cannot sign in" >&2; exit 1; }
oldest=76561198300000000
report 127.30.0.1 76561198300000001 "$oldest"

# 20 wrong passwords for alice from a stranger's network, then hers from home.
codes=$(for _ in $(seq 20); do signin fd00:0:0:66::1 alice wrong; done | tally)
home=$(signin 127.10.0.5 alice "$password" -D "$work/home.headers")
cookie=$(grep -o 'palisard_session=[0-9a-f]*' "$work/home.headers" || true)
elsewhere=$(signin 127.11.0.5 alice "$password")
outcome=$([ "$home" = 303 ] && echo "signed in" || echo "NOT signed in")
grep -q '; Secure' "$work/home.headers" && outcome+=", Secure cookie"
verdict "$([ "$home" = 303 ] && [ -n "$cookie" ] && [ "$elsewhere" = 429 ] && echo 1)" \
  "20 wrong passwords for alice from fd00:0:0:66::/64 ($codes); then hers from her own 127.10.0.0/24: $home \
($outcome); from a network she never signed in from: $elsewhere"

# 30,000 refused sign-ins from one address: their line comes last.
audit_before=$(sql "SELECT COALESCE(MAX(id), 0) FROM audit")
flood=$(inside /usr/bin/python3 bench/attack_clients.py flood 127.77.0.1 30000)
flood_to=$(date +%s)
audit_at_once=$(sql "SELECT COALESCE(MAX(id), 0) FROM audit")
# What the service refused (a wrong password, or a locked account or
# network) rather than answered busy.
flood_refused=$(tr ' ' '\n' <<< "$flood" | awk -F: '$1 == 401 || $1 == 429 {n += $2} END {print n + 0}')

# 256 idle connections to the moderation port itself from one address, and
# 200 networks signing in at once for 12 s through the proxy, while alice
# opens her queue every half second through the proxy, and directly at the
# port to tell the service's share from nginx's.
exec 3> >(inside /usr/bin/python3 bench/hold_connections.py 127.0.0.1 8080 256 256 > "$work/held.log" 2>&1)
for _ in $(seq 100); do grep -q "^held" "$work/held.log" && break; sleep 0.1; done
sleep 0.5
# The client's ends of the connections that the service kept.
kept=$(inside ss -Htn state established "( dport = :8080 and src 127.1.0.1 )" | wc -l)
inside /usr/bin/python3 bench/attack_clients.py storm 12 "${networks[@]}" > "$work/storm.log" 2>&1 &
storm=$!
sleep 2
: > "$work/direct.times"
times=$(for _ in $(seq 16); do
  queue -o /dev/null -w '%{http_code} %{time_total}\n'
  inside curl -s -o /dev/null -w '%{http_code} %{time_total}\n' -H "Host: mod.example.org:8443" -H "Cookie: $cookie" \
    http://127.0.0.1:8080/queue >> "$work/direct.times" || true
  sleep 0.5
done)
wait "$storm"
exec 3>&-
# TIMES: "median ... ms, slowest ... ms"
spread() {
  awk '{print $2}' <<< "$1" | sort -g |
    awk '{v[NR] = $1} END {printf "median %.0f ms, slowest %.0f ms", v[int((NR + 1) / 2)] * 1000, v[NR] * 1000}'
}
slowest=$(cat <(echo "$times") "$work/direct.times" | awk '{print $2}' | sort -g | tail -1)
unanswered=$(cat <(echo "$times") "$work/direct.times" | grep -vc '^200 ' || true)
verdict "$(awk -v s="$slowest" -v n="$unanswered" 'BEGIN {print (s < 1 && n == 0)}')" \
  "256 idle connections from 127.1.0.1 (the port kept $kept) and 200 networks signing in at once for 12 s \
($(cat "$work/storm.log")): alice's queue, 16 times through the proxy: $(spread "$times"); directly at the port: \
$(spread "$(cat "$work/direct.times")"); $unanswered not answered 200 (goal 1 s)"

# An appeal sent by another site's page, then one from the player's own.
appealed=76561198100000000
cli ban "$appealed" --reason "attack bench" > /dev/null
crossed=$(request 127.20.0.1 -o /dev/null -w '%{http_code}' -H "Origin: https://evil.example" --data appeal=junk \
  "$public/player/$appealed")
crossed_kept=$(sql "SELECT COUNT(*) FROM appeals WHERE player_id = $appealed")
own=$(request 127.20.0.1 -o /dev/null -w '%{http_code}' -H "Origin: $public" --data appeal=mine \
  "$public/player/$appealed")
own_kept=$(sql "SELECT COUNT(*) FROM appeals WHERE player_id = $appealed")
verdict "$([ "$crossed" = 403 ] && [ "$crossed_kept" = 0 ] && echo 1)" \
  "a cross-site appeal: $crossed, $crossed_kept recorded (from the player's own page: $own, $own_kept recorded)"

# 600 appeals from 200 networks, each of another banned player, below a
# few report cases from two networks each.
first=76561198200000000
seq "$first" $((first + 599)) > "$work/banned.txt"
cli import "$work/banned.txt" > /dev/null
for i in $(seq 5); do
  report 127.31.$i.1 76561198300000100 $((oldest + i))
  report 127.32.$i.1 76561198300000200 $((oldest + i))
done
appeals=$(inside /usr/bin/python3 bench/attack_clients.py appeals "$first" "${networks[@]}")
queue -o "$work/queue.html"
bytes=$(wc -c < "$work/queue.html")
# The cases, then the appeals: where the oldest case and the first appeal begin.
at() { grep -ob "$1" "$work/queue.html" | head -1 | cut -d: -f1 || true; }
oldest_at=$(at "Reports of <a href=\"/player/$oldest\"")
appeal_at=$(at 'class="card appeal"')
cases=$(grep -o 'Reports of' "$work/queue.html" | wc -l)
shown=$(grep -o 'class="card appeal"' "$work/queue.html" | wc -l)
verdict "$([ "$bytes" -lt 204800 ] && [ -n "$oldest_at" ] && [ "$oldest_at" -lt "${appeal_at:-0}" ] && echo 1)" \
  "600 appeals of 2,000 characters from 200 networks ($appeals): the queue $((bytes / 1024)) KB (goal 200 KB), \
its $cases report cases first, the oldest $([ -n "$oldest_at" ] && echo included || echo MISSING), then $shown of \
$(grep -o '[0-9]* open appeals' "$work/queue.html" || echo "no open appeals")"

# Another host name on the moderation port, through the proxy and directly.
evil=$(request 127.10.0.5 -o /dev/null -w '%{http_code}' -H "Host: evil.example" "$pages/signin")
direct=$(inside curl -s -o /dev/null -w '%{http_code}' -H "Host: evil.example" http://127.0.0.1:8080/signin || true)
verdict "$([ "$evil" = 403 ] && [ "$direct" = 403 ] && echo 1)" \
  "Host: evil.example on the moderation port: $evil through the proxy, $direct directly"

# Visits without a session, and with a made-up one: the store workers keep
# their database connections (the same backends before and after).
backends="SELECT string_agg(pid::text, ',' ORDER BY pid) FROM pg_stat_activity
  WHERE datname = 'attack' AND pid <> pg_backend_pid()"
worker_lines() { grep -c "store worker" "$work/service.log" || true; }
before=$(sql "$backends")
lines=$(worker_lines)
visits=$(for _ in $(seq 20); do request 127.12.0.1 -o /dev/null -w '%{http_code}\n' "$pages/queue"; done | tally)
made_up=$(for _ in $(seq 20); do
  request 127.12.0.1 -o /dev/null -w '%{http_code}\n' -H "Cookie: palisard_session=$(printf '%064d' 7)" "$pages/queue"
done | tally)
after=$(sql "$backends")
lines=$(($(worker_lines) - lines))
verdict "$([ "$before" = "$after" ] && [ "$lines" = 0 ] && echo 1)" \
  "20 cookie-less visits ($visits) and 20 with a made-up session ($made_up): the service's \
$(tr ',' '\n' <<< "$after" | wc -l) database connections \
$([ "$before" = "$after" ] && echo "the same" || echo "NOT the same"), $lines store worker lines in its log"

# A report whose only host request came from the reporter's own network,
# and one backed by a host on another network.
report 127.50.0.1 76561198400000001 76561198400000009
asked 127.50.0.2 76561198400000001 76561198400000009
report 127.51.0.1 76561198400000002 76561198400000009
asked 127.52.0.1 76561198400000002 76561198400000009
sleep 3  # the service writes what hosts asked every 2 s
own_network=$(evidence 76561198400000001)
other_network=$(evidence 76561198400000002)
verdict "$([ "$own_network" = unseen ] && [ "$other_network" = seen ] && echo 1)" \
  "a report whose only host request came from the reporter's network: $own_network \
(one with a host on another network: $other_network)"

# The refusals fold once their window ended: the service restarted then
# prunes at once. Each kind of refusal and window is at most 6 audit rows.
window=900
while [ "$(date +%s)" -le $(((flood_to / window + 1) * window)) ]; do sleep 5; done
kill -TERM "$service_pid"
wait "$service_pid" 2> /dev/null || true
serve
for _ in $(seq 100); do
  [ "$(sql "SELECT COUNT(*) FROM refusals WHERE window_start <= $flood_to - $flood_to % $window")" = 0 ] && break
  sleep 0.1
done
refused="action IN ('sign-in-failed', 'sign-in-refused', 'report-refused', 'appeal-refused')"
read -r rows held <<< "$(sql "SELECT COUNT(*), SUM((after_json::json->>'refusals')::bigint) FROM audit
  WHERE $refused AND id > $audit_before" | tr '|' ' ')"
most=$(sql "SELECT COALESCE(MAX(n), 0) FROM (SELECT COUNT(*) AS n FROM audit WHERE $refused
  GROUP BY action, made_at / $window) AS windows")
# Meanwhile at most the fold of an earlier window: 6 rows for each of the 4 kinds.
verdict "$( ((audit_at_once - audit_before <= 24 && most <= 6 && held >= flood_refused)) && echo 1)" \
  "30,000 sign-ins from 127.77.0.1 under new names ($flood): $((audit_at_once - audit_before)) audit rows at once; \
once their window ended, this run's refusals so far became $rows rows holding $held refusals, at most $most per kind \
and 15-minute window (bound 6: 96 rows an hour for the four kinds)"
exit "$failed"

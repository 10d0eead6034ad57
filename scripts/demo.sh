#!/usr/bin/env bash
# A demo a newcomer can open: the game stand-in playing a lively match, the
# community's ban service (palisard-service on 127.0.0.1:80, a fresh SQLite
# database) with one player banned through its command line, and Palisard
# beside them. Prints the web console's address; Ctrl+C (or "exit") ends it
# all. Run as root.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh" service
"$here/scripts/build.sh" release palisard game-sim palisard-service > /dev/null

build=$here/build/release
work=$(mktemp -d)
cleanup() {
  kill $(jobs -p) 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The hosting player's machine: this copy hosts, so bans and votes act here.
# The service also serves the version file, as the current release.
cheater=76561198000000007
service=("$build/src/service/palisard-service")
database=(--database "$work/palisard-service.db")
version=$("${service[@]}" --version | cut -d' ' -f2)
"${service[@]}" serve --listen 127.0.0.1:80 "${database[@]}" --latest-version "$version" \
  --download-url https://example.org/palisard/ > "$work/service.log" 2>&1 &
for _ in $(seq 50); do
  grep -q "serving the ban contract" "$work/service.log" && break
  kill -0 $! 2>/dev/null || { cat "$work/service.log" >&2; exit 1; }
  sleep 0.1
done
"${service[@]}" ban "$cheater" --reason "demo: seen with an aimbot" "${database[@]}" > /dev/null

names=(Host Alice Bob "^1Red^7Baron" "Dr <Strange>" Eve Mallory "^2Zed" Quinn)
lively_match() {
  echo "own 76561198000000001"
  echo "server 198.18.0.1 28960"
  for i in "${!names[@]}"; do
    echo "join $i $((76561198000000001 + i)) 198.18.0.$((i + 1)) 28960 ${names[$i]}"
  done
  echo "join 9 $cheater 198.18.0.99 28960 Cheater"
  local lines=("gg" "nice shot ^3<3" "who is hosting?" "lag..." "^1rush B" "brb" "one more round")
  local round=0
  while true; do
    sleep 2
    echo "chat ${names[$((round % ${#names[@]}))]}: ${lines[$((round % ${#lines[@]}))]}"
    if ((round % 5 == 4)); then echo "leave 6"; fi
    if ((round % 5 == 1)); then echo "join 6 76561198000000007$((round % 3)) 198.18.0.7 28960 Newcomer$round"; fi
    round=$((round + 1))
  done
}
lively_match | "$build/tools/game-sim/game-sim" > "$work/game.log" &

cat > "$work/Palisard.ini" <<'INI'
[Palisard]
HttpPort=3060
AdminPort=3061
OverrideHost=127.0.0.1
INI
echo "Web console: http://127.0.0.1:3060/  (type plist or exit here)"
echo "The ban service: ${service[*]} bans|cases|show ID|lift ID --reason TEXT ${database[*]}"
cd "$work"
"$build/src/palisard"

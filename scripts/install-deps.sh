#!/usr/bin/env bash
# Installs, from Debian's packages, what this machine lacks for one use:
#   run      building and running the Linux program (./run.sh, the demo)
#   service  building and running palisard-service, the community's ban
#            service (scripts/service.sh)
#   package  that, plus the Windows cross-build and the packaging tools
#            (scripts/package.sh)
#   test     all of it, plus the test and benchmark tools (scripts/test.sh)
#   scripts/install-deps.sh [run|service|package|test]      (default: run)
# Safe to run again: it installs only what is missing. It leaves no service
# running or enabled that the install brought.
set -euo pipefail

use=${1:-run}
run_packages=(cmake ninja-build g++ pkg-config libnftables-dev libpugixml-dev nlohmann-json3-dev)
# libnftables-dev too: the one build configures the player's program beside
# the service.
service_packages=(cmake ninja-build g++ pkg-config libpugixml-dev nlohmann-json3-dev libboost-dev libsqlite3-dev
                  libpq-dev libsodium-dev libcurl4-openssl-dev libnftables-dev)
package_packages=(g++-mingw-w64-x86-64-posix googletest zip dpkg-dev lintian)
test_packages=(clang libclang-rt-14-dev libbenchmark-dev wine wine64 nftables iproute2 minisign
               curl openssl procps unzip chromium nginx-light wrk python3-spyne python3-zeep postgresql nodejs)
case "$use" in
  run) packages=("${run_packages[@]}") ;;
  service) packages=("${service_packages[@]}") ;;
  package) packages=("${run_packages[@]}" "${service_packages[@]}" "${package_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${service_packages[@]}" "${package_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [run|service|package|test]" >&2; exit 2 ;;
esac

export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -q -o DPkg::Lock::Timeout=300 "$@"; }

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# A deb-src entry for each Debian entry this machine has (same URI, suite,
# components and key): the Windows build compiles pugixml from its source
# package, fetched through the user's own mirror or proxy. Which entries are
# Debian's is apt's own reading of their Release files.
eval "$(apt-config shell parts Dir::Etc::sourceparts/d)"
own_sources=${parts%/}/palisard-src.sources

debian_entries() {  # lines: TARGET-OF URI SUITE FILE:ENTRY
  apt-get indextargets --format '$(TARGET_OF) $(ORIGIN) $(REPO_URI) $(RELEASE) $(SOURCESENTRY)' |
    awk '$2 == "Debian" {print $1, $3, $4, $5}' | sort -u
}

# Prints one deb-src stanza for the entry at FILE:ENTRY (a line of a .list
# file, or the ENTRY-th stanza of a .sources file).
source_stanza() {
  local uri=$1 suite=$2 file=${3%:*} entry=${3##*:}
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\n' "$uri" "$suite"
  case "$file" in
    *.sources)
      # Every field but those set above, continuation lines included.
      awk -v want="$entry" '
        BEGIN { RS = ""; FS = "\n" }
        {
          body = 0
          for (i = 1; i <= NF; i++) if ($i !~ /^#/) body = 1
          if (!body || ++n != want) next
          keep = 0
          for (i = 1; i <= NF; i++) {
            if ($i ~ /^#/) continue
            if ($i !~ /^[ \t]/) keep = ($i !~ /^(Types|URIs|Suites|Architectures|Enabled):/)
            if (keep) print $i
          }
        }' "$file" ;;
    *)
      sed -n "${entry}p" "$file" | awk '
        {
          sub(/#.*/, ""); i = 2; options = ""
          if ($2 ~ /^\[/) {
            for (; i <= NF; i++) { options = options " " $i; if ($i ~ /\]$/) break }
            i++
          }
          components = ""
          for (j = i + 2; j <= NF; j++) components = components " " $j
          print "Components:" components
          gsub(/[][]/, " ", options)
          n = split(options, option, " ")
          for (j = 1; j <= n; j++) {
            split(option[j], kv, "=")
            if (kv[1] == "signed-by") print "Signed-By: " kv[2]
            if (kv[1] == "trusted") print "Trusted: " kv[2]
          }
        }' ;;
  esac
}

wanted_sources() {
  local entries
  entries=$(debian_entries)
  awk '$1 == "deb" {print $2, $3, $4}' <<< "$entries" | sort -u -k1,2 |
    while read -r uri suite location; do
      # Already there from the user's own configuration: nothing to add.
      if awk -v uri="$uri" -v suite="$suite" -v own="$own_sources" \
          '$1 == "deb-src" && $2 == uri && $3 == suite && index($4, own ":") != 1 {found = 1}
           END {exit !found}' <<< "$entries"; then
        continue
      fi
      source_stanza "$uri" "$suite" "$location"
      echo
    done
}

need_update=0
if [ "$use" = package ] || [ "$use" = test ]; then
  # apt names a source's origin only once it has read its Release file.
  if [ -z "$(debian_entries)" ]; then apt_get update; fi
  wanted=$(wanted_sources)
  if [ -z "$(debian_entries | awk '$1 == "deb"')" ]; then
    echo "install-deps: no Debian package source is configured in apt" >&2
    exit 1
  fi
  if [ -n "$wanted" ] && [ "$wanted" != "$(cat "$own_sources" 2>/dev/null)" ]; then
    printf '%s\n' "$wanted" > "$own_sources"
    need_update=1
  elif [ -z "$wanted" ] && [ -e "$own_sources" ]; then
    rm -f "$own_sources"
  fi
fi

# The tests' tools from npm, as tests/node/package-lock.json pins them (by
# name and hash; from whichever registry npm is set up for), once apt has
# brought Node.js.
node_tools() {
  [ "$use" = test ] || return 0
  local dir
  dir="$(dirname "$0")/../tests/node"
  cmp -s "$dir/package-lock.json" "$dir/node_modules/.installed-lock.json" 2>/dev/null && return 0
  echo "Installing the tests' npm packages into tests/node"
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error && cp package-lock.json node_modules/.installed-lock.json)
}
trap 'node_tools || exit 1' EXIT

if ((${#missing[@]} == 0 && need_update == 0)); then exit 0; fi
apt_get update
if ((${#missing[@]} == 0)); then exit 0; fi

# Installing a package that carries a service (nginx-light does) would start
# it. While apt runs, a policy-rc.d denies every start (invoke-rc.d and
# deb-systemd-invoke both obey it); a policy the machine already has is
# left as it is. Afterwards the services the install brought are disabled
# and stopped, so none waits for the next boot either.
policy=/usr/sbin/policy-rc.d
marker="# palisard: no service starts while installing"
if [ ! -e "$policy" ] || grep -qF "$marker" "$policy"; then
  trap 'rm -f "$policy"; node_tools || exit 1' EXIT
  trap 'exit 130' INT TERM HUP
  printf '#!/bin/sh\n%s\nexit 101\n' "$marker" > "$policy"
  chmod 755 "$policy"
fi
services() {
  { ls /etc/init.d
    ls /lib/systemd/system /usr/lib/systemd/system | sed -n 's/^\([^@]*\)\.service$/\1/p'
  } 2>/dev/null | sort -u
}
services_before=$(services)

echo "Installing: ${missing[*]}"
apt_get install -y --no-install-recommends "${missing[@]}"

for service in $(comm -13 <(echo "$services_before") <(services)); do
  if [ -d /run/systemd/system ]; then
    systemctl disable --now "$service" 2>/dev/null || true
  elif [ -x "/etc/init.d/$service" ]; then
    update-rc.d "$service" disable >/dev/null 2>&1 || true
    "/etc/init.d/$service" stop >/dev/null 2>&1 || true
  fi
done

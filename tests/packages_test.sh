#!/usr/bin/env bash
# Checks the release packages scripts/package.sh left in dist/: the zip holds
# exactly what a player needs, with Windows line ends, and a self-contained
# palisard.exe that starts; the .deb declares its libraries, passes lintian,
# and its program, unpacked, starts and prints the project's version; the
# service's .deb passes lintian, declares its libraries, ships a settings
# file that matches the program, a sound unit, and installs and purges
# cleanly. Root (the program runs in a network namespace of its own).
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
version=$(sed -n 's/^project(Palisard VERSION \([0-9][0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
banner="Palisard Server Tool version $version"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "packages: $*"; failures=$((failures + 1)); }

# Starts PROGRAM... in a fresh network namespace from an empty directory,
# tells it to exit, and checks its first line. It may stop earlier, at the
# firewall or the ports; the banner comes first.
starts() {
  local what=$1; shift
  mkdir -p "$work/run"
  (cd "$work/run" && echo exit | timeout 60 unshare -n -- "$@" > "$work/out" 2> "$work/err")
  local first
  first=$(head -1 "$work/out" | tr -d '\r')
  [ "$first" = "$banner" ] || { fail "$what printed '$first', not '$banner'"; cat "$work/err"; }
}

zip=dist/palisard-$version-windows-x64.zip
if [ ! -f "$zip" ]; then
  fail "$zip missing"
else
  listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
  [ "$listed" = "Palisard.ini README.txt palisard.exe " ] || fail "zip holds: $listed"
  unzip -q "$zip" -d "$work/zip"
  for text in README.txt Palisard.ini; do
    [ "$(grep -c $'\r$' "$work/zip/$text")" = "$(wc -l < "$work/zip/$text")" ] || fail "$text has bare LF line ends"
  done
  grep -q "3061" "$work/zip/README.txt" || fail "README.txt names no port to forward"
  grep -q $'^AdminPort=3061\r$' "$work/zip/Palisard.ini" || fail "Palisard.ini lacks AdminPort's default"
  # Players have no mingw runtime DLLs: only system DLLs may be imported.
  dlls=$(x86_64-w64-mingw32-objdump -p "$work/zip/palisard.exe" | sed -n 's/^\s*DLL Name: //p' | grep -viE \
    '^(kernel32|user32|advapi32|ws2_32|fwpuclnt|msvcrt|ntdll|psapi|shell32|ole32|iphlpapi|bcrypt|api-ms-win-.*)\.dll$')
  [ -z "$dlls" ] || fail "palisard.exe imports non-system DLLs: $dlls"
  starts palisard.exe wine "$work/zip/palisard.exe"
fi

deb=dist/palisard_${version}_amd64.deb
if [ ! -f "$deb" ]; then
  fail "$deb missing"
else
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libnftables1 libpugixml1v5; do
    [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
  done
  contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  for file in ./usr/bin/palisard ./usr/share/doc/palisard/copyright ./usr/share/doc/palisard/README \
      ./usr/share/doc/palisard/examples/Palisard.ini ./usr/share/man/man1/palisard.1.gz; do
    grep -qx "$file" <<< "$contents" || fail "the .deb lacks $file"
  done
  lintian --fail-on error,warning "$deb" || fail "lintian"
  dpkg-deb -x "$deb" "$work/deb"
  starts "the .deb's palisard" "$work/deb/usr/bin/palisard"
fi

# Installs the service's .deb into a throw-away overlay of this machine's
# root: the package makes its user, keeps the settings file to root and that
# user, enables and starts nothing, and a purge leaves the database.
installs_in_overlay() {
  local layer=$work/overlay
  mkdir -p "$layer/upper" "$layer/work" "$layer/root"
  cp "$1" "$layer/upper/service.deb"
  unshare -m --propagation private sh -c '
    mount -t overlay overlay -o "lowerdir=/,upperdir=$1/upper,workdir=$1/work" "$1/root" &&
    mount -t proc proc "$1/root/proc" &&
    chroot "$1/root" sh -c "
      dpkg -i /service.deb > /dev/null &&
      getent passwd palisard-service > /dev/null &&
      stat -c %U:%G:%a /etc/palisard-service/palisard-service.conf &&
      ! ls /etc/systemd/system/*.wants/palisard-service.service 2> /dev/null &&
      mkdir -p /var/lib/palisard-service && touch /var/lib/palisard-service/palisard-service.db &&
      dpkg --purge palisard-service > /dev/null &&
      test -e /var/lib/palisard-service/palisard-service.db && echo kept"' sh "$layer" > "$work/install" 2>&1
  [ "$(cat "$work/install")" = $'root:palisard-service:640\nkept' ] || { fail "install and purge:"; cat "$work/install"; }
}

service_deb=dist/palisard-service_${version}_amd64.deb
if [ ! -f "$service_deb" ]; then
  fail "$service_deb missing"
else
  depends=$(dpkg-deb -f "$service_deb" Depends)
  for library in adduser libsqlite3-0 libpq5 libsodium23 libpugixml1v5; do
    [[ $depends == *"$library"* ]] || fail "palisard-service's Depends lacks $library: $depends"
  done
  contents=$(dpkg-deb -c "$service_deb" | awk '{print $NF}')
  conf=/etc/palisard-service/palisard-service.conf
  for file in ./usr/bin/palisard-service ./lib/systemd/system/palisard-service.service ".$conf" \
      ./usr/share/man/man8/palisard-service.8.gz ./usr/share/doc/palisard-service/copyright; do
    grep -qx "$file" <<< "$contents" || fail "the service's .deb lacks $file"
  done
  [ "$(dpkg-deb --ctrl-tarfile "$service_deb" | tar -xOf - ./conffiles)" = "$conf" ] || fail "conffiles is not $conf"
  lintian --fail-on error,warning "$service_deb" || fail "lintian palisard-service"
  dpkg-deb -x "$service_deb" "$work/service"
  program=$work/service/usr/bin/palisard-service
  first=$("$program" --help | head -1)
  [ "$first" = "usage: palisard-service [COMMAND] [OPTIONS]" ] || fail "palisard-service --help printed '$first'"
  # The settings file shows every setting of serve, and reads back with each
  # one set as shown: nothing but the missing database stops it.
  for name in $("$program" serve --help | sed -n 's/^  --\([a-z-]*\) .*/\1/p' | grep -vx config); do
    grep -qE "^#?$name = " "$work/service$conf" || fail "the settings file lacks $name"
  done
  sed -E 's/^#([a-z-]+ = )/\1/; s#^database = .*#database = /nonexistent/x.db#' "$work/service$conf" > "$work/all.conf"
  "$program" bans --config "$work/all.conf" 2> "$work/err"
  grep -q "no database at /nonexistent/x.db" "$work/err" || fail "the settings file does not read back: $(cat "$work/err")"
  unit=$work/service/lib/systemd/system/palisard-service.service
  # The unit's program is not installed here; anything else it says is a fault.
  verify=$(systemd-analyze verify --man=no "$unit" 2>&1 | grep -v 'palisard-service is not executable')
  [ -z "$verify" ] || fail "systemd-analyze verify: $verify"
  installs_in_overlay "$service_deb"
fi

((failures == 0)) && echo "packages: zip and both .debs good"
((failures == 0))

#!/usr/bin/env bash
# Checks the release packages scripts/package.sh left in dist/: the zip holds
# exactly what a player needs, with Windows line ends, and a self-contained
# palisard.exe that starts; the .deb declares its libraries, passes lintian,
# and its program, unpacked, starts and prints the project's version. Root
# (the program runs in a network namespace of its own).
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

((failures == 0)) && echo "packages: zip and .deb good"
((failures == 0))

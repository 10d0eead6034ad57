#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  clang libclang-rt-14-dev
  googletest libbenchmark-dev
  g++-mingw-w64-x86-64-posix
  wine wine64
  libnftables-dev nftables iproute2
  libpugixml-dev
  curl procps
  chromium
  nginx-light wrk
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# Debian's source packages: the Windows build compiles pugixml from its own.
sources=/etc/apt/sources.list.d/palisard-src.sources
need_update=0
if [ ! -f "$sources" ]; then
  cat > "$sources" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  need_update=1
fi

if ((${#missing[@]} > 0 || need_update)); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
fi
if ((${#missing[@]} > 0)); then
  echo "Installing: ${missing[*]}"
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

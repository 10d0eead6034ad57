#!/usr/bin/env bash
# Builds the release packages into dist/:
#   palisard-VERSION-windows-x64.zip   palisard.exe, a commented Palisard.ini
#                                      and README.txt (Windows line ends)
#   palisard_VERSION_amd64.deb         the Linux program, its man page, read-me
#                                      and an example Palisard.ini
#   palisard-service_VERSION_amd64.deb the community's ban service: program,
#                                      systemd unit, settings file, man page
# VERSION is the project's version in CMakeLists.txt. Installs what is
# missing first (scripts/install-deps.sh package).
set -euo pipefail
cd "$(dirname "$0")/.."
maintainer=${PALISARD_MAINTAINER:-"Palisard developers <palisard@palisard.net>"}

version=$(sed -n 's/^project(Palisard VERSION \([0-9][0-9.]*\)[ )].*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt's project()" >&2; exit 1; }

scripts/install-deps.sh package
scripts/build.sh release palisard palisard-service
scripts/build.sh windows palisard

# Same bytes for the same commit: file times and the changelog date are the
# commit's.
epoch=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH=$epoch
stage=build/package
rm -rf "$stage"
mkdir -p "$stage" dist
# fill FILE [PACKAGE]: a packaging template with its blanks filled in.
fill() { sed -e "s/@VERSION@/$version/g" -e "s/@MAINTAINER@/$maintainer/g" -e "s/@PACKAGE@/${2:-palisard}/g" \
             -e "s/@DATE@/$(date -R -u -d "@$epoch")/g" -e "s/@YEAR@/$(date -u -d "@$epoch" +%Y)/g" "$1"; }
crlf() { sed 's/$/\r/'; }

# Palisard.ini: the settings and defaults documented in README.md, so the
# two cannot drift apart.
ini() {
  echo "; Palisard's settings, each with its default. Palisard reads this file"
  echo "; from the directory it is started in, once at start."
  echo
  awk '/^## Configure it/ {section = 1} section && /^```ini/ {take = 1; next}
       take && /^```/ {exit} take' README.md
}
ini > "$stage/Palisard.ini"
grep -q '^AdminPort=' "$stage/Palisard.ini" || { echo "package: no settings block in README.md" >&2; exit 1; }

# Windows.
zip_root=$stage/windows
mkdir -p "$zip_root"
x86_64-w64-mingw32-strip -o "$zip_root/palisard.exe" build/windows/src/palisard.exe
crlf < "$stage/Palisard.ini" > "$zip_root/Palisard.ini"
fill packaging/README.windows.txt | crlf > "$zip_root/README.txt"
touch -d "@$epoch" "$zip_root"/*
zip_file=dist/palisard-$version-windows-x64.zip
rm -f "$zip_file"
(cd "$zip_root" && zip -q -X -D "$OLDPWD/$zip_file" palisard.exe Palisard.ini README.txt)

# Debian packages: the libraries PROGRAM links to, as Debian declares them.
shlib_depends() {
  local package=$1 program
  program=$(realpath "$2")
  mkdir -p "$stage/shlibs/debian"
  printf 'Source: %s\n\nPackage: %s\nArchitecture: amd64\n' "$package" "$package" > "$stage/shlibs/debian/control"
  local depends
  depends=$(cd "$stage/shlibs" && dpkg-shlibdeps -O "$program" | sed -n 's/^shlibs:Depends=//p')
  [ -n "$depends" ] || { echo "package: dpkg-shlibdeps found no dependencies of $program" >&2; exit 1; }
  echo "$depends"
}

# install_program ROOT NAME: the release build's program, stripped.
install_program() {
  install -m 755 "$2" "$1/usr/bin/$(basename "$2")"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$1/usr/bin/$(basename "$2")"
}

# build_deb ROOT FILE: the sums of every file but the conffiles, then the
# package, its file times the commit's.
build_deb() {
  local root=$1
  (cd "$root" && find . -path ./DEBIAN -prune -o -path ./etc -prune -o -type f -printf '%P\n' |
    LC_ALL=C sort | xargs md5sum) > "$root/DEBIAN/md5sums"
  chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
  find "$root" -exec touch -h -d "@$epoch" {} +
  dpkg-deb --root-owner-group -Zxz --build "$root" "$2" > /dev/null
}

# Debian: the player's program.
root=$stage/deb
doc=$root/usr/share/doc/palisard
install -d -m 755 "$root/DEBIAN" "$root/usr/bin" "$doc/examples" "$root/usr/share/man/man1"
install_program "$root" build/release/src/palisard
fill packaging/README.linux > "$doc/README"
fill packaging/copyright > "$doc/copyright"
install -m 644 "$stage/Palisard.ini" "$doc/examples/Palisard.ini"
fill packaging/changelog | gzip -9n > "$doc/changelog.gz"
fill packaging/palisard.1 | gzip -9n > "$root/usr/share/man/man1/palisard.1.gz"
chmod 644 "$doc/README" "$doc/copyright" "$doc/changelog.gz" "$root/usr/share/man/man1/palisard.1.gz"
depends=$(shlib_depends palisard "$root/usr/bin/palisard")
cat > "$root/DEBIAN/control" <<CONTROL
Package: palisard
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: $depends
Section: net
Priority: optional
Description: vote-kick companion for a multiplayer game run under Wine
 Palisard runs beside the game (iw5mp.exe under Wine or Proton) and reads
 its memory, read-only, to follow the match. It serves a local web console
 with the players and the last chat lines, and lets the copies of Palisard
 in one match vote a player out: the copy on the hosting machine blocks the
 kicked player's address with nftables for about five minutes.
CONTROL
deb=dist/palisard_${version}_amd64.deb
build_deb "$root" "$deb"

# Debian: the community's ban service. Installing it does not start it (see
# its postinst).
root=$stage/service-deb
doc=$root/usr/share/doc/palisard-service
install -d -m 755 "$root/DEBIAN" "$root/usr/bin" "$doc" "$root/usr/share/man/man8" "$root/lib/systemd/system" \
  "$root/etc/palisard-service"
install_program "$root" build/release/src/service/palisard-service
fill packaging/copyright > "$doc/copyright"
fill packaging/changelog palisard-service | gzip -9n > "$doc/changelog.gz"
fill packaging/palisard-service.8 | gzip -9n > "$root/usr/share/man/man8/palisard-service.8.gz"
install -m 644 packaging/palisard-service.service "$root/lib/systemd/system/palisard-service.service"
install -m 644 packaging/palisard-service.conf "$root/etc/palisard-service/palisard-service.conf"
chmod 644 "$doc/copyright" "$doc/changelog.gz" "$root/usr/share/man/man8/palisard-service.8.gz"
for script in postinst prerm postrm; do
  install -m 755 "packaging/palisard-service.$script" "$root/DEBIAN/$script"
done
echo /etc/palisard-service/palisard-service.conf > "$root/DEBIAN/conffiles"
chmod 644 "$root/DEBIAN/conffiles"
depends=$(shlib_depends palisard-service "$root/usr/bin/palisard-service")
cat > "$root/DEBIAN/control" <<CONTROL
Package: palisard-service
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Depends: adduser, $depends
Section: net
Priority: optional
Description: ban service for a community of Palisard players
 The hosting copies of Palisard ask it which players are banned, and the
 players' copies send it their reports (SOAP over HTTP on port 80). Bans,
 reports grouped in cases and an append-only audit live in SQLite or, for
 several instances behind a load balancer, in PostgreSQL. Its command line
 bans and lifts, lists the cases, and exports and imports bans.
 .
 The service is not started on install: set it up in
 /etc/palisard-service/palisard-service.conf, then
 systemctl enable --now palisard-service.
CONTROL
service_deb=dist/palisard-service_${version}_amd64.deb
build_deb "$root" "$service_deb"

ls -l "$zip_file" "$deb" "$service_deb" | awk '{print $5, $NF}'

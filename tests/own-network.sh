#!/bin/sh
# Runs a test program in a network namespace of its own with its loopback up,
# so that no other program on this machine (a running copy listening on the
# admin ports, say) answers on the ports the tests use. Wine's server makes
# the sockets of the Windows tests: it gets a private directory, and so a
# server started inside the namespace. Without root it runs as it is.
#   own-network.sh PROGRAM [ARGUMENT...]
if [ "$(id -u)" != 0 ] || ! unshare --net --mount true 2>/dev/null; then exec "$@"; fi
exec unshare --net --mount sh -c '
  ip link set lo up || exit 1
  wine_dir=/tmp/.wine-$(id -u)
  mkdir -p -m 0700 "$wine_dir" && mount -t tmpfs -o mode=0700 tmpfs "$wine_dir" || exit 1
  exec "$@"' own-network "$@"

#!/bin/sh
# Runs a command beside a throw-away PostgreSQL cluster: initdb as the
# `postgres` user in a fresh temporary directory, a server that listens on a
# Unix socket there and on no TCP port, the command with
# PALISARD_TEST_POSTGRES_URL naming the cluster's `postgres` database; then
# the server stops and the directory goes, however the command ended. Fails
# loudly when the cluster cannot start: the tests must not skip PostgreSQL
# unnoticed. Exits with the command's status.
#   with-postgres.sh COMMAND [ARGUMENT...]
set -u

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
  echo "with-postgres: no PostgreSQL server installed (scripts/install-deps.sh test installs it)" >&2
  exit 1
fi
if [ "$(id -u)" = 0 ]; then
  as_postgres() { runuser -u postgres -- "$@"; }
elif [ "$(id -un)" = postgres ]; then
  as_postgres() { "$@"; }
else
  echo "with-postgres: must run as root or as postgres" >&2
  exit 1
fi

dir=$(mktemp -d /tmp/palisard-postgres.XXXXXX) || exit 1
started=
cleanup() {
  [ -n "$started" ] && as_postgres "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
chown postgres "$dir" && chmod 700 "$dir" || exit 1

# Speed over safety: the cluster lives for one test run.
if ! as_postgres "$bindir/initdb" -D "$dir/data" -U postgres -A trust --no-sync >"$dir/initdb.log" 2>&1; then
  echo "with-postgres: initdb failed:" >&2
  cat "$dir/initdb.log" >&2
  exit 1
fi
options="-c listen_addresses= -c unix_socket_directories=$dir -c fsync=off -c synchronous_commit=off"
options="$options -c full_page_writes=off -c max_connections=200"
if ! as_postgres "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -o "$options" -w -t 60 start >/dev/null; then
  echo "with-postgres: the server did not start:" >&2
  cat "$dir/server.log" >&2
  exit 1
fi
started=1

PALISARD_TEST_POSTGRES_URL="postgresql:///postgres?host=$dir&user=postgres"
export PALISARD_TEST_POSTGRES_URL
"$@"
status=$?
exit $status

#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests, the demo and the benchmark:
# its own folder, reached only through a unix socket in that folder, run by an
# unprivileged user (postgres when this runs as root). It has a database
# `kiv` owned by the role `kiv`, whose password is the suite's (QZMPW), so a
# connection without a password exercises the suite password.
#   scripts/pg-cluster.sh start [DIR]   make (when new) and start; prints DIR
#   scripts/pg-cluster.sh uri DIR       the connection URI of its database kiv
#   scripts/pg-cluster.sh halt DIR      stop at once (immediate mode), keep it
#   scripts/pg-cluster.sh stop DIR      stop and remove the folder
set -euo pipefail

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -n "$bin" ] || { echo "pg-cluster.sh: PostgreSQL is not installed (scripts/install-deps.sh)" >&2; exit 2; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

sql() {  # as the cluster's superuser
  as_owner "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$1" -U postgres -d "${3:-postgres}" -c "$2" >/dev/null
}

cmd=${1:-}
dir=${2:-}
case "$cmd" in
  start)
    if [ -z "$dir" ]; then
      dir=$(mktemp -d /tmp/kiv-pg.XXXXXX)
    fi
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    fresh=0
    if [ ! -f "$dir/data/PG_VERSION" ]; then
      fresh=1
      as_owner "$bin/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C.UTF-8 -A trust >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log" >&2; exit 2; }
      # The superuser sets things up without a password; the suite's role
      # must give one.
      printf 'local all postgres trust\nlocal all all scram-sha-256\n' >"$dir/data/pg_hba.conf"
      [ "$(id -u)" -eq 0 ] && chown postgres: "$dir/data/pg_hba.conf"
    fi
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses='' -c unix_socket_directories='$dir'" start >/dev/null ||
      { tail -20 "$dir/server.log" >&2; exit 2; }
    if [ $fresh -eq 1 ]; then
      sql "$dir" "CREATE ROLE kiv LOGIN PASSWORD 'QZMPW'"
      sql "$dir" "CREATE DATABASE kiv OWNER kiv"
      sql "$dir" "REVOKE CREATE ON SCHEMA public FROM PUBLIC; ALTER SCHEMA public OWNER TO kiv" kiv
    fi
    echo "$dir"
    ;;
  uri)
    [ -n "$dir" ] || { echo "usage: $0 uri DIR" >&2; exit 2; }
    echo "postgresql:///kiv?host=$dir&user=kiv"
    ;;
  halt)
    [ -n "$dir" ] || { echo "usage: $0 halt DIR" >&2; exit 2; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null
    ;;
  stop)
    [ -n "$dir" ] || { echo "usage: $0 stop DIR" >&2; exit 2; }
    if [ -f "$dir/data/postmaster.pid" ]; then
      as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true
    fi
    case "$dir" in
      /tmp/kiv-pg.*) rm -rf "$dir" ;;
      *) [ -f "$dir/data/PG_VERSION" ] && rm -rf "$dir/data" "$dir/server.log" "$dir/initdb.log" ;;
    esac
    ;;
  *)
    echo "usage: $0 start [DIR] | uri DIR | halt DIR | stop DIR" >&2
    exit 2
    ;;
esac

#!/usr/bin/env bash
# A throwaway PostgreSQL 15 cluster for the tests: private socket directory and port, no TCP
# (listen_addresses=''), password authentication, a login role that may create databases.
#
#   eval "$(scripts/postgres-test-cluster.sh start)"   # prints the export lines for the tests
#   scripts/postgres-test-cluster.sh stop
#
# ZARVELT_PG_DIR (default /tmp/zarvelt-pg-test) and ZARVELT_PG_PORT (default 55432) choose the
# place; the role is ZARVELT_TEST_PG_USER / ZARVELT_TEST_PG_PASSWORD (zarvelt / zarvelt-test).
# initdb and pg_ctl refuse to run as root, so as root they run as the postgres user.
set -euo pipefail

dir=${ZARVELT_PG_DIR:-/tmp/zarvelt-pg-test}
port=${ZARVELT_PG_PORT:-55432}
role=${ZARVELT_TEST_PG_USER:-zarvelt}
role_password=${ZARVELT_TEST_PG_PASSWORD:-zarvelt-test}
bin=/usr/lib/postgresql/15/bin

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    # From /: the postgres user may not enter the caller's directory (root's home), and the
    # programs would say so although nothing failed.
    (cd / && runuser -u postgres -- "$@")
  else
    "$@"
  fi
}

start() {
  [ -x "$bin/initdb" ] || { echo "postgres-test-cluster: $bin/initdb not found" >&2; exit 1; }
  stop_quietly
  mkdir -p "$dir/socket"
  [ "$(id -u)" -eq 0 ] && chown -R postgres:postgres "$dir"
  # The superuser's password is never used outside this script.
  local superuser_password
  superuser_password=$(head -c 18 /dev/urandom | base64 | tr -d '/+=')
  printf '%s\n' "$superuser_password" >"$dir/superuser-password"
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$dir/superuser-password"
  as_owner "$bin/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C.UTF-8 \
    --auth-local=scram-sha-256 --auth-host=scram-sha-256 \
    --pwfile="$dir/superuser-password" --no-sync >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; exit 1; }
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir/socket -p $port -c listen_addresses='' -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=50" \
    start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
  for _ in $(seq 1 50); do
    "$bin/pg_isready" -q -h "$dir/socket" -p "$port" && break
    sleep 0.2
  done
  PGPASSWORD=$superuser_password "$bin/psql" -q -X -v ON_ERROR_STOP=1 -h "$dir/socket" \
    -p "$port" -U postgres -d postgres \
    -c "CREATE ROLE \"$role\" LOGIN CREATEDB PASSWORD '$role_password'" \
    -c "GRANT pg_signal_backend TO \"$role\"" >/dev/null
  cat >"$dir/pg_service.conf" <<SERVICE
[zarvelt_test]
host=$dir/socket
port=$port
dbname=postgres
SERVICE
  echo "export PGHOST='$dir/socket' PGPORT='$port' PGSERVICEFILE='$dir/pg_service.conf'"
  echo "export ZARVELT_TEST_PG=1 ZARVELT_TEST_PG_USER='$role' ZARVELT_TEST_PG_PASSWORD='$role_password'"
}

stop_quietly() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "${1:-}" in
  start) start ;;
  stop) stop_quietly ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac

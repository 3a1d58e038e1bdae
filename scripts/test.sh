#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test. The one command CI runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

build=${ZARVELT_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
# The database tests run against SQLite and a throwaway PostgreSQL cluster of this run (its own
# directory and port, so parallel runs do not meet). Without the cluster they fail under CI=true
# and are skipped locally.
export ZARVELT_PG_DIR=/tmp/zarvelt-pg-$$ ZARVELT_PG_PORT=$((50000 + $$ % 10000))
trap 'bash scripts/postgres-test-cluster.sh stop' EXIT
if pg_exports=$(bash scripts/postgres-test-cluster.sh start); then
  eval "$pg_exports"
else
  echo "test.sh: no PostgreSQL test cluster; PostgreSQL tests fail under CI, else skip" >&2
fi
# The PostgreSQL tests run once more through ODBC (psqlODBC), with the driver and the data
# sources registered in a private ODBC configuration beside the cluster.
if [ -n "${PGHOST:-}" ] && odbc_exports=$(bash scripts/odbc-test-sources.sh "$ZARVELT_PG_DIR/odbc"); then
  eval "$odbc_exports"
fi
(cd "$build" && ctest --output-on-failure -j2)

#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test. The one command CI runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

build=${ZARVELT_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
# The Windows build (mingw-w64, ODBC only); its end-to-end tests run it under wine64.
windows_binary=$(bash scripts/windows-build.sh)
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
# A private wine prefix beside the cluster (removed with it); wine reaches the data sources
# above through the host's unixODBC. Its first start takes a while, so it happens here once.
export WINEPREFIX=$ZARVELT_PG_DIR/wine WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || echo "test.sh: wineboot failed" >&2
export ZARVELT_WINDOWS_BINARY=$windows_binary ZARVELT_TEST_WINDOWS=1
(cd "$build" && ctest --output-on-failure -j2)

# The same suite once more under AddressSanitizer and UndefinedBehaviorSanitizer (g++), against
# the same cluster: the fault tests run the sanitized program too.
sanitize_build=${ZARVELT_SANITIZE_BUILD_DIR:-build-test-sanitize}
cmake -S . -B "$sanitize_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVELT_SANITIZE=ON \
  -DZARVELT_BUILD_BENCH=OFF
cmake --build "$sanitize_build" -j"$(nproc)"
# LeakSanitizer reports what OpenSSL (under libpq, under psqlODBC) keeps until the process ends
# now and then; those are the libraries' and would fail a run at random.
(cd "$sanitize_build" &&
  LSAN_OPTIONS="suppressions=$root/tests/lsan-suppressions.txt:print_suppressions=0" \
    ctest --output-on-failure -j2)

# Bad input: each fuzz target (clang-14, libFuzzer) for a bounded time from its committed
# corpus, then every corpus replayed. The replays also run in both ctest runs above.
ZARVELT_FUZZ_BUILD_DIR=${ZARVELT_FUZZ_BUILD_DIR:-build-test-fuzz} \
  bash scripts/fuzz.sh "${ZARVELT_FUZZ_SECONDS:-60}"

#!/usr/bin/env bash
# Benchmarks: builds the program (Release, build-bench) and the ceiling (bench/ceiling.cc, on
# the client libraries alone, into build-bench/bench), then transfers
# generated booking files of 10k, 100k and 1M lines on SQLite and PostgreSQL, through a proxy
# that adds 0.5 ms per round trip (libpq and psqlODBC), and eight terminals at once, and checks
# the targets (see bench/README.md). --quick stops at 100k lines. --ceiling instead runs only
# the program against the ceiling, 3 alternating pairs on 200,000 lines (the ordinary file and
# one where a quarter of the lines log; SQLite, PostgreSQL, and PostgreSQL through the proxy).
# Not part of scripts/test.sh.
#
#   scripts/bench.sh [--quick | --ceiling] [more options of bench/run.py, e.g. --repeat 5]
#
# PostgreSQL: a private throwaway cluster of this run, unless PGHOST and the
# ZARVELT_TEST_PG_USER / ZARVELT_TEST_PG_PASSWORD of a running one are set already.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

sizes=10000,100000,1000000
mode=(--backends sqlite,postgresql,odbc --latency-ms 0.25 --terminals 8)
if [ "${1:-}" = "--quick" ]; then
  sizes=10000,100000
  shift
elif [ "${1:-}" = "--ceiling" ]; then
  sizes=200000
  mode=(--backends sqlite,postgresql --latency-ms 0.25 --pairs 3)
  shift
fi

build=${ZARVELT_BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZARVELT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target zarvelt zarvelt_config >/dev/null
# The ceiling with the flags of the program's Release build, on sqlite3 and libpq only.
mkdir -p "$build/bench"
g++ -std=c++20 -O3 -DNDEBUG -Wall -Wextra -Wpedantic -I/usr/include/postgresql bench/ceiling.cc \
  -lsqlite3 -lpq -o "$build/bench/zarvelt_bench_ceiling"

work=${ZARVELT_BENCH_WORK_DIR:-/tmp/zarvelt-bench-$$}
mkdir -p "$work"
cleanup() {
  if [ -n "${own_cluster:-}" ]; then bash scripts/postgres-test-cluster.sh stop; fi
  if [ -z "${ZARVELT_BENCH_WORK_DIR:-}" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
if [ -z "${PGHOST:-}" ]; then
  export ZARVELT_PG_DIR=/tmp/zarvelt-bench-pg-$$ ZARVELT_PG_PORT=$((40000 + $$ % 10000))
  own_cluster=1
  if pg_exports=$(bash scripts/postgres-test-cluster.sh start); then
    eval "$pg_exports"
  else
    echo "bench.sh: no PostgreSQL cluster; PostgreSQL is skipped" >&2
  fi
fi
export PATH=/usr/lib/postgresql/15/bin:$PATH
python3 bench/run.py --build "$build" --work "$work" --sizes "$sizes" "${mode[@]}" "$@"

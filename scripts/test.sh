#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test. The one command CI runs. Its last
# line is the verdict: "test.sh: all passed", or "test.sh: FAILED: <stages>" (exit status 1).
#
# The stages, each timed: the packages; the build (RelWithDebInfo); the Windows build (64-bit);
# the suite with ctest (SQLite, a throwaway PostgreSQL cluster, psqlODBC and the test-only driver
# with Oracle's personality in front of it, the Windows programs under wine64); the crash-point
# campaign's sample (the program killed at its system calls, then run again); the suite once
# more under AddressSanitizer and UndefinedBehaviorSanitizer (g++), without what only repeats on
# another backend the code it has run (see sanitizer_skip); the fuzz targets (clang-14,
# libFuzzer). The suites mostly wait (for the database, for the lock and deadline tests), so the
# next tree is built beside each suite, at low priority; so is the Windows package: the 32-bit
# programs and unit tests, which compile but cannot run here, and the zip of both widths, checked.
#
# ZARVELT_TEST_BUILD_DIR, ZARVELT_SANITIZE_BUILD_DIR, ZARVELT_FUZZ_BUILD_DIR,
# ZARVELT_WINDOWS_BUILD_DIR and ZARVELT_WINDOWS_32_BUILD_DIR choose the build directories,
# ZARVELT_BUILD_JOBS the jobs (default the number of cores), ZARVELT_FUZZ_SECONDS the time per
# fuzz target (default 20) and ZARVELT_CRASH_POINTS the campaign's points ("all", or about how
# many per backend; default a sample of 100).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=${ZARVELT_BUILD_JOBS:-$(nproc)}
export ZARVELT_BUILD_JOBS=$jobs
build=${ZARVELT_TEST_BUILD_DIR:-build-test}
sanitize_build=${ZARVELT_SANITIZE_BUILD_DIR:-build-test-sanitize}
export ZARVELT_FUZZ_BUILD_DIR=${ZARVELT_FUZZ_BUILD_DIR:-build-test-fuzz}
started=$SECONDS
failed=()
cpu_file=$(mktemp "${TMPDIR:-/tmp}/zarvelt-test-cpu.XXXXXX")

# stage NAME COMMAND...: runs the command, says how long it took, and records a failure. Beside
# the time and the load it says the processor seconds (user and system) of the command's own
# processes, which tell what a stage costs on a machine that others share: the command runs in
# a subshell that writes its children's times when it ends.
stage() {
  local name=$1 begun=$SECONDS
  shift
  echo "test.sh: -- $name"
  if ("$@" && times >"$cpu_file.$name"); then
    local cpu
    cpu=$(awk 'NR == 2 { for (i = 1; i <= 2; i++) { split($i, p, "m"); s += p[1] * 60 + p[2] } }
               END { printf "%d", s }' "$cpu_file.$name")
    rm -f "$cpu_file.$name"
    echo "test.sh: -- $name: $((SECONDS - begun)) s (cpu $cpu s," \
      "load $(cut -d' ' -f1-3 /proc/loadavg))"
  else
    echo "test.sh: -- $name FAILED after $((SECONDS - begun)) s" >&2
    failed+=("$name")
    return 1
  fi
}
# A stage beside the one in the foreground, at low priority so that the foreground's tests get
# the processor when they want it: its output goes to a log, shown if it fails. The priority is
# background_nice (10), or lower for a stage that only fills what the others leave.
background_stage() {
  local name=$1 log=$2
  shift 2
  mkdir -p "$(dirname "$log")"
  (renice -n "${background_nice:-10}" -p "$BASHPID" >/dev/null &&
    stage "$name" "$@" >"$log" 2>&1) &
}
# Waits for a background stage; prints its log on failure.
wait_stage() {
  local name=$1 pid=$2 log=$3
  if wait "$pid"; then
    tail -n 1 "$log"
  else
    cat "$log" >&2
    failed+=("$name")
    return 1
  fi
}
verdict() {
  local minutes="$(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
  if [ ${#failed[@]} -eq 0 ]; then
    echo "test.sh: all passed ($minutes)"
  else
    echo "test.sh: FAILED: ${failed[*]} ($minutes)"
    exit 1
  fi
}
# Configures a build directory, with Ninja when it is new and Ninja is there.
configure() {
  local dir=$1
  shift
  local generator=()
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
  cmake -S . -B "$dir" "${generator[@]}" "$@" >/dev/null
}
build_tree() {
  local dir=$1
  shift
  configure "$dir" "$@" && cmake --build "$dir" -j"$jobs"
}

stage packages bash scripts/install-deps.sh || verdict

# The database tests run against SQLite and a throwaway PostgreSQL cluster of this run (its own
# directory and port, so parallel runs do not meet). Without the cluster they fail under CI=true
# and are skipped locally.
export ZARVELT_PG_DIR=/tmp/zarvelt-pg-$$ ZARVELT_PG_PORT=$((50000 + $$ % 10000))
# At the end: the wine server of the prefix below ends and its directory in the temporary
# directory (wine-XXXXXX/server-<device>-<inode of the prefix>) goes, then the cluster.
end_wine() {
  [ -d "${WINEPREFIX:-}" ] || return 0
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  local server
  server="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
  for dir in "${TMPDIR:-/tmp}"/wine-*/"$server"; do
    [ -d "$dir" ] && rm -rf "$dir" && rmdir "$(dirname "$dir")" 2>/dev/null
  done
  return 0
}
trap 'end_wine; bash scripts/postgres-test-cluster.sh stop; rm -f "$cpu_file" "$cpu_file".*' EXIT
if pg_exports=$(bash scripts/postgres-test-cluster.sh start); then
  eval "$pg_exports"
else
  echo "test.sh: no PostgreSQL test cluster; PostgreSQL tests fail under CI, else skip" >&2
fi
# The PostgreSQL tests run once more through ODBC (psqlODBC), with the driver and the data
# sources registered in a private ODBC configuration beside the cluster, and once more through
# the test-only driver with Oracle's personality that the build below makes.
case $build in
  /*) export ZARVELT_ORACLE_ODBC_DRIVER=$build/libzarvelt_oracle_odbc.so ;;
  *) export ZARVELT_ORACLE_ODBC_DRIVER=$root/$build/libzarvelt_oracle_odbc.so ;;
esac
if [ -n "${PGHOST:-}" ] && odbc_exports=$(bash scripts/odbc-test-sources.sh "$ZARVELT_PG_DIR/odbc"); then
  eval "$odbc_exports"
fi
# A private wine prefix beside the cluster (removed with it); wine reaches the data sources
# above through the host's unixODBC. Its first start takes a while, so it happens once, beside
# the builds.
export WINEPREFIX=$ZARVELT_PG_DIR/wine WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
(timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || echo "test.sh: wineboot failed" >&2) &
wineboot=$!

# Line tables only (-g1): they name file and line in a failure's backtrace, and the test
# sources, heavy with templates, compile in half the time of full debug information.
stage build build_tree "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" ||
  verdict
# The Windows build (mingw-w64, ODBC only), 64-bit: its end-to-end tests run it under wine64.
windows_path=$ZARVELT_PG_DIR/windows-binary
stage windows-build eval 'bash scripts/windows-build.sh 64 >"$windows_path"' || verdict
windows_binary=$(cat "$windows_path")
wait "$wineboot"

# The sanitized tree at -O1 (and -g1): it builds in less than half the time of -O2 -g, and the
# sanitizers find the same.
sanitize_log=$sanitize_build/build.log
background_stage sanitizer-build "$sanitize_log" build_tree "$sanitize_build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVELT_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
sanitize_pid=$!
# The 32-bit programs and unit tests, every warning an error, then the package of both widths:
# at the lowest priority, from here to the end, in what the suites and the other builds leave of
# the processor (mostly the suites' waits).
windows_package() {
  bash scripts/windows-build.sh 32 --tests >/dev/null &&
    bash tests/windows_package_test.sh "$(bash scripts/windows-build.sh package)"
}
windows_package_log=${ZARVELT_WINDOWS_32_BUILD_DIR:-build-windows-32}/package.log
background_nice=19 background_stage windows-package "$windows_package_log" windows_package
windows_package_pid=$!
export ZARVELT_WINDOWS_BINARY=$windows_binary ZARVELT_TEST_WINDOWS=1
# The campaign runs on its own below, where it says how many points it ran.
stage ctest bash -c "cd '$build' && ctest --output-on-failure -j$jobs -E '^Backends/CrashPointTest\.'"
# Killed at a spread sample of its system calls on every backend, then run again (every point
# with ZARVELT_CRASH_POINTS=all): beside the sanitizer build still.
stage crash-points "$build/zarvelt_tests" --gtest_filter='Backends/CrashPointTest.*' --gtest_brief=1
wait_stage sanitizer-build "$sanitize_pid" "$sanitize_log" || verdict

# The same suite under the sanitizers, against the same cluster: the fault tests run the
# sanitized program too. Beside it, the fuzz targets are built.
fuzz_log=$ZARVELT_FUZZ_BUILD_DIR/build.log
background_stage fuzz-build "$fuzz_log" bash scripts/fuzz.sh --build-only
fuzz_pid=$!
# The sanitizers look for memory faults and undefined behaviour in the program's own code.
# Which of it runs depends on the backend only in src/db and in the loop's waiting path (the
# batched backends): so every test runs on SQLite, the backend suites run on every backend
# (a lost session among them), and the end-to-end runs on PostgreSQL and through ODBC are the
# differential test's (every batch size) and the ODBC deadline's (its worker left behind on a
# frozen server, tested nowhere else). Left out: the same end-to-end runs repeated per backend
# and the server faults' 60 000-line runs (the plain suite runs them), and the crash points and
# memory bounds (they skip themselves).
sanitizer_skip='^Backends/(BookingTransferTest|PublishBackendTest|AdminSelfTest)\..*/(postgresql|odbc_postgresql)$'
sanitizer_skip+='|^Faults/ServerFaultTest\..*/(BackendTerminated|ImmediateShutdown|BackendFrozen|OdbcBackendTerminated|OracleOdbcBackendTerminated|OracleOdbcBackendFrozen)$'
# LeakSanitizer reports what OpenSSL (under libpq, under psqlODBC) keeps until the process ends
# now and then; those are the libraries' and would fail a run at random.
stage sanitizer-ctest bash -c "cd '$sanitize_build' &&
  LSAN_OPTIONS='suppressions=$root/tests/lsan-suppressions.txt:print_suppressions=0' \
    ctest --output-on-failure -j$jobs -E '$sanitizer_skip'"
wait_stage fuzz-build "$fuzz_pid" "$fuzz_log" || verdict

# Bad input: each fuzz target for a bounded time from its committed corpus, then every corpus
# replayed. The replays also run in both ctest runs above.
stage fuzz bash scripts/fuzz.sh "${ZARVELT_FUZZ_SECONDS:-20}"
if wait_stage windows-package "$windows_package_pid" "$windows_package_log"; then
  echo "test.sh: the 32-bit Windows programs and unit tests were compiled and linked, not run:" \
    "this machine runs no 32-bit code (nor does wine without 32-bit Linux libraries)"
fi
verdict

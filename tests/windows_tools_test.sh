#!/usr/bin/env bash
# The Windows programs as an operator uses them on a new installation, under wine64 against the
# test cluster through one ODBC data source (wine's odbc32 passes the calls to the host's
# unixODBC): zarvelt_admin init lays out the folders, zarvelt_config writes the configuration
# (text mode: CR LF), zarvelt_admin selftest checks the database, and zarvelt transfers the demo
# booking file. The self-test and the transfer must say and write what the Linux programs of
# the same sources say and write through the same data source, byte for byte but for the line
# ends and the server time.
#
#   tests/windows_tools_test.sh <build dir> <source dir> <variable naming the data source> [oracle]
#
# With "oracle" the data source is the test-only driver with Oracle's personality: each database
# also gets what that driver's statements need of it (Oracle's to_date and dual, the dictionary
# views the self-test reads).
# Needs ZARVELT_WINDOWS_BINARY (the 64-bit zarvelt.exe; the other two programs beside it),
# WINEPREFIX, the cluster's exports and the data source's variable (scripts/test.sh sets them
# up). Without the Windows build it is skipped (exit 77) unless ZARVELT_TEST_WINDOWS is set;
# without the data source unless PostgreSQL tests are required (CI=true, ZARVELT_TEST_PG).
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
variable=$3
personality=${4:-}
data_source=${!variable:-}
fail() {
  echo "windows_tools ($variable): $*" >&2
  exit 1
}
if [ -z "${ZARVELT_WINDOWS_BINARY:-}" ]; then
  [ -n "${ZARVELT_TEST_WINDOWS:-}" ] && fail "ZARVELT_WINDOWS_BINARY not set"
  echo "no Windows build to run (ZARVELT_WINDOWS_BINARY)"
  exit 77
fi
if [ -z "$data_source" ]; then
  [ -n "${ZARVELT_TEST_PG:-}" ] || [ "${CI:-}" = true ] && fail "$variable not set"
  echo "no ODBC data source ($variable)"
  exit 77
fi
windows=$(dirname "$ZARVELT_WINDOWS_BINARY")
export WINEDEBUG=-all PGUSER=$ZARVELT_TEST_PG_USER PGPASSWORD=$ZARVELT_TEST_PG_PASSWORD \
  ZARVELT_SQL_DIR=$source/sql

work=$(mktemp -d)
databases=()
cleanup() {
  for database in "${databases[@]}"; do
    psql -q -X -d postgres -c "DROP DATABASE IF EXISTS $database WITH (FORCE)" >/dev/null 2>&1 || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# windows PROGRAM ARGUMENT...: runs the Windows program in the current directory; its standard
# output in $work/out, its standard error in $work/err, its exit status in $status.
windows() {
  local program=$1
  shift
  status=0
  /usr/lib/wine/wine64 "$windows/$program.exe" "$@" >"$work/out" 2>"$work/err" || status=$?
}
# An installation's database: the demo's master data in a database of its own.
database() {
  local database=zw_$$_$1
  databases+=("$database")
  psql -q -X -v ON_ERROR_STOP=1 -d postgres -c "CREATE DATABASE $database" >/dev/null
  "$build/zarvelt_admin" create postgresql "dbname=$database" MAND01 MAND02 >/dev/null
  "$build/zarvelt_admin" load postgresql "dbname=$database" \
    "$source/demo-data/master" >/dev/null
  if [ "$personality" = oracle ]; then
    psql -q -X -v ON_ERROR_STOP=1 -d "$database" -c 'SET client_min_messages TO warning' \
      -f "$source/tests/oracle_compat.sql" -f "$source/tests/oracle_dictionary.sql" >/dev/null
  fi
  echo "odbc:DSN=$data_source;Database=$database"
}
# A text as a Windows program writes it in text mode taken back to what the Linux program
# writes: the CR before each LF goes (a CR of the text's own stays).
without_cr() { sed 's/\r$//' "$1"; }
# A text with the server time (dd.mm.yyyy hh:mi:ss) left out.
timeless() { sed -E 's/[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}/<time>/g' "$1"; }

# The Windows installation, laid out by the Windows zarvelt_admin (ODBC, no db folder).
cd "$work"
windows zarvelt_admin init "$work/win"
[ $status -eq 0 ] || fail "zarvelt_admin init: status $status: $(cat "$work/err")"
for folder in Files Velmarion_php/log Transfer/work; do
  [ -d "$work/win/$folder" ] || fail "zarvelt_admin init laid out no $folder"
done
[ ! -e "$work/win/db" ] || fail "zarvelt_admin init laid out db/ for an ODBC installation"
grep -q 'zarvelt_admin selftest' "$work/out" || fail "zarvelt_admin init does not name the self-test"
windows zarvelt_admin create sqlite "$work/db" MAND01
[ $status -eq 1 ] && grep -q 'no SQLite support' "$work/err" ||
  fail "zarvelt_admin create sqlite: status $status, $(cat "$work/err")"
windows zarvelt_admin --help
grep -q 'Not in this build: create and load for SQLite and PostgreSQL' "$work/out" ||
  fail "zarvelt_admin --help does not say what the build leaves out"

# The configuration, written by the Windows zarvelt_config from the working directory with the
# path as the program names it.
cd "$work/win/Transfer/work"
net8=$(database win)
windows zarvelt_config write '..\..\Files\velmarion.ini' "LOGIN=$PGUSER" "PASS=$PGPASSWORD" "NET8=$net8"
[ $status -eq 0 ] || fail "zarvelt_config write: status $status: $(cat "$work/err")"
config=$work/win/Files/velmarion.ini
[ -s "$config" ] && ! grep -q $'[^\r]$' "$config" && ! grep -q '^$' "$config" ||
  fail "the configuration has a line without CR LF: $(od -c "$config" | head -5)"
windows zarvelt_config read '..\..\Files\velmarion.ini' NET8
[ "$(without_cr "$work/out")" = "$net8" ] || fail "zarvelt_config read NET8: $(cat "$work/out")"

# The same installation for the Linux programs, through the same data source.
"$build/zarvelt_admin" init "$work/linux" postgresql >/dev/null
"$build/zarvelt_config" write "$work/linux/Files/velmarion.ini" "LOGIN=$PGUSER" \
  "PASS=$PGPASSWORD" "NET8=$(database linux)"

# The self-test: every check holds, and says what the Linux one says.
windows zarvelt_admin selftest
[ $status -eq 0 ] || fail "zarvelt_admin selftest: status $status: $(cat "$work/out" "$work/err")"
(cd "$work/linux/Transfer/work" && "$build/zarvelt_admin" selftest >"$work/selftest") ||
  fail "the Linux self-test failed: $(cat "$work/selftest")"
diff <(timeless "$work/selftest") <(without_cr "$work/out" | timeless /dev/stdin) >&2 ||
  fail "the self-tests differ (above: < Linux, > Windows)"

# The demo booking file, transferred by each program with the configuration its own
# zarvelt_config wrote.
for side in win linux; do
  cp "$source/demo-data/bookings/T01.txt" "$work/$side/Transfer/work/"
done
windows zarvelt T01 T01.txt T01_time.txt T01_cost.txt /D
[ $status -eq 0 ] || fail "zarvelt: status $status: $(cat "$work/out" "$work/err")"
without_cr "$work/out" >"$work/console.windows"
(cd "$work/linux/Transfer/work" &&
  "$build/zarvelt" T01 T01.txt T01_time.txt T01_cost.txt /D >"$work/console.linux") ||
  fail "the Linux run failed: $(cat "$work/console.linux")"
diff "$work/console.linux" "$work/console.windows" >&2 ||
  fail "the consoles differ (above: < Linux, > Windows)"
for export in T01_time.txt T01_cost.txt; do
  cmp "$work/linux/Transfer/work/$export" "$work/win/Transfer/work/$export" ||
    fail "$export differs"
done
diff <(timeless "$work/linux/Velmarion_php/log/ZarveltLog.txt") \
  <(without_cr "$work/win/Velmarion_php/log/ZarveltLog.txt" | timeless /dev/stdin) >&2 ||
  fail "the transfer logs differ (above: < Linux, > Windows)"
grep -q 'Zeitbuchungen         : 5' "$work/win/Velmarion_php/log/ZarveltLog.txt" ||
  fail "the Windows run did not transfer the demo's 5 time bookings"
echo "windows_tools ($variable=$data_source): init, zarvelt_config, selftest and a transfer under" \
  "wine64 as on Linux"

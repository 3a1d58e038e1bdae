#!/usr/bin/env bash
# Builds zarvelt and runs it once on a demo installation with SQLite as its database, then shows
# what the run produced: both export files, the new protocol rows, the run's transfer log, its
# reject and reasons files and its run record.
#
#   scripts/demo.sh
#
# ZARVELT_DEMO_DIR (default $HOME/zarvelt-demo) is where the installation goes; it must be
# empty, missing, or an earlier demo installation. The script installs only what a SQLite-only
# build needs (scripts/install-deps.sh --demo) and builds into build-demo/.
# ZARVELT_DEMO_BUILD_DIR names a directory holding zarvelt, zarvelt_config and zarvelt_admin to
# use instead of installing packages and building (the tests use it with a build directory or
# an unpacked package's bin/).
#
# Every run starts from the same state: the database files are created anew and loaded with
# the master data of demo-data/, the configuration file is written anew and the exports are
# overwritten. The transfer log is kept and grows by one run each time, as in a real
# installation; the script shows the latest run's part.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
demo=${ZARVELT_DEMO_DIR:-${HOME:-/tmp}/zarvelt-demo}
build=${ZARVELT_DEMO_BUILD_DIR:-}

section() { printf '\n=== %s\n' "$*"; }
# The program writes Windows-1252 (console, log); this terminal shows UTF-8.
from_1252() { iconv -f WINDOWS-1252 -t UTF-8; }

if [ -z "$build" ]; then
  section "Installing packages (if missing) and building into build-demo/ (SQLite only)"
  if command -v dpkg-query >/dev/null; then bash "$root/scripts/install-deps.sh" --demo; fi
  build=$root/build-demo
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZARVELT_WITH_POSTGRESQL=OFF \
    -DZARVELT_WITH_ODBC=OFF -DZARVELT_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target zarvelt zarvelt_config zarvelt_admin >/dev/null
fi
for tool in zarvelt zarvelt_config zarvelt_admin; do
  [ -x "$build/$tool" ] || { echo "demo: $build/$tool was not built" >&2; exit 1; }
done

# A directory that holds anything but an earlier demo is left alone.
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)
if [ ! -e "$demo/.zarvelt-demo" ] && [ -n "$(ls -A "$demo")" ]; then
  echo "demo: $demo is not empty and holds no earlier demo; set ZARVELT_DEMO_DIR" >&2
  exit 1
fi
touch "$demo/.zarvelt-demo"

# The fixed paths of the program start two levels above its working directory:
#   ..\..\Files\velmarion.ini  and  ..\..\Velmarion_php\log\ZarveltLog.txt
work=$demo/Transfer/work
"$build/zarvelt_admin" init "$demo" >/dev/null

section "Database: central schema KVSYSTEM and client schemas MAND01, MAND02 (SQLite files)"
"$build/zarvelt_admin" create sqlite "$demo/db" --replace MAND01 MAND02
"$build/zarvelt_admin" load sqlite "$demo/db" "$root/demo-data/master"

section "Configuration file Files/velmarion.ini (values enciphered by zarvelt_config)"
# NET8 is read from the working directory, so the SQLite path is relative to it.
config=$demo/Files/velmarion.ini
rm -f "$config"
"$build/zarvelt_config" write "$config" LOGIN=zarvelt PASS=demo-password \
  NET8=sqlite3:../../db/KVSYSTEM.db
cat "$config"
for key in LOGIN PASS NET8; do
  printf '%-5s deciphered: %s\n' "$key" "$("$build/zarvelt_config" read "$config" "$key")"
done

section "Booking file of terminal T01 (Transfer/work/T01.txt)"
cp "$root/demo-data/bookings/T01.txt" "$work/T01.txt"
tr -d '\r' <"$work/T01.txt" | nl -ba

section "Run: zarvelt T01 T01.txt T01_time.txt T01_cost.txt /D   (in Transfer/work)"
rm -f "$work/T01_time.txt" "$work/T01_cost.txt"
status=0
(cd "$work" && "$build/zarvelt" T01 T01.txt T01_time.txt T01_cost.txt /D) \
  >"$demo/console.txt" || status=$?
tr -d '\r' <"$demo/console.txt" | from_1252
printf '\nexit status: %s\n' "$status"

section "Target file 1, time bookings (Transfer/work/T01_time.txt): 81 columns and LF each"
echo "         1         2         3         4         5         6         7         8"
echo "12345678901234567890123456789012345678901234567890123456789012345678901234567890 |"
sed 's/$/|/' "$work/T01_time.txt"

section "Target file 2, cost-centre bookings (Transfer/work/T01_cost.txt): no line breaks"
printf '%s bytes; cut into 32-byte records for display:\n' "$(wc -c <"$work/T01_cost.txt")"
fold -w 32 "$work/T01_cost.txt"
echo
od -A d -t x1z -v "$work/T01_cost.txt"

section "New rows in KVSYSTEM.KVS402ZPK (access protocol)"
sqlite3 -header -column "$demo/db/KVSYSTEM.db" \
  "select ZpkTrm, ZpkLes, ZpkDtm, ZpkUhr, ZpkAsw, ZpkZus, ZpkFcd, ZpkMld, ZpkLfd, ZpkDat
   from KVS402ZPK order by ZpkUhr"

section "New rows in KVSYSTEM.O2009BUCHPROT (event protocol)"
sqlite3 -header -column "$demo/db/KVSYSTEM.db" \
  "select BPRTRM, BPRZLS, BPRAWV, BPRDAT, BPRDTE, BPRFCD, BPRERG, BPRVAR from O2009BUCHPROT"

section "Transfer log Velmarion_php/log/ZarveltLog.txt, this run"
log=$demo/Velmarion_php/log/ZarveltLog.txt
last_header=$(grep -a -n '^>>>>' "$log" | tail -n 1 | cut -d: -f1)
tail -n +"${last_header:-1}" "$log" | from_1252

# The run record is one JSON line per run; this run's is the last one. Its reject_file names
# the lines the run did not get through (null when it rejected none).
runs=$demo/Velmarion_php/log/ZarveltRuns.jsonl
record=$(tail -n 1 "$runs" 2>/dev/null || true)
reject=$(printf '%s' "$record" | sed -n 's/.*"reject_file":"\([^"]*\)".*/\1/p')

section "Done"
cat <<EOF
The demo installation is in $demo:
  Files/velmarion.ini               configuration (LOGIN, PASS, NET8)
  Velmarion_php/log/ZarveltLog.txt  transfer log (Windows-1252; every run appends)
  Velmarion_php/log/ZarveltRuns.jsonl
                                    run record: one JSON line per run (UTF-8)
EOF
if [ -n "$reject" ]; then
  cat <<EOF
  Velmarion_php/log/$(basename "$reject")
                                    the lines this run did not get through, as read (feed
                                    it again once the cause is fixed)
  Velmarion_php/log/$(basename "${reject%.txt}")_Gruende.txt
                                    why, one line each (Windows-1252)
EOF
fi
cat <<EOF
  db/KVSYSTEM.db, MAND01.db, ...    the SQLite database, one file per schema
  Transfer/work/                    working directory: booking file and exports
This run's record (the last line of ZarveltRuns.jsonl):
  $record
Run it again by hand:
  cd $work && $build/zarvelt T01 T01.txt T01_time.txt T01_cost.txt /D | iconv -f WINDOWS-1252
EOF
exit "$status"

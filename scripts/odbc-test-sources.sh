#!/usr/bin/env bash
# Registers psqlODBC and two data sources for the throwaway PostgreSQL cluster in a private
# ODBC configuration (nothing in /etc changes), and prints the export lines for the tests:
#
#   eval "$(scripts/postgres-test-cluster.sh start)"
#   eval "$(scripts/odbc-test-sources.sh DIR)"
#
# zpg        the cluster without a database: the tests name theirs ("odbc:DSN=zpg;Database=..").
# zpgdefaults the same with the driver's defaults.
# ZARVELT_PG a data source as an installation's NET8 alias names one (database postgres).
# zora       the test-only driver with Oracle's personality (tests/oracle_odbc_driver/, built as
#            libzarvelt_oracle_odbc.so) in front of psqlODBC and zpg; the tests name their
#            database as with zpg. ZARVELT_ORACLE_ODBC_DRIVER names the library (default: the
#            one of build-test/); it may be built after this runs.
# The SQLite driver (libsqliteodbc) is registered as SQLite3 when it is installed.
# Needs PGHOST (the socket directory) and PGPORT from the cluster's exports.
set -euo pipefail

dir=${1:?usage: $0 DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
oracle_driver=${ZARVELT_ORACLE_ODBC_DRIVER:-$root/build-test/libzarvelt_oracle_odbc.so}
: "${PGHOST:?PGHOST not set}" "${PGPORT:?PGPORT not set}"
driver=$(dpkg-query -L odbc-postgresql 2>/dev/null | grep '/psqlodbca\.so$' | head -n 1 || true)
[ -n "$driver" ] || { echo "odbc-test-sources: psqlODBC (odbc-postgresql) not installed" >&2; exit 1; }

# A database product without statement texts, to see it refused.
sqlite_driver=$(dpkg-query -L libsqliteodbc 2>/dev/null | grep '/libsqlite3odbc\.so$' | head -n 1 || true)

mkdir -p "$dir"
# CommLog and Debug off, for the driver and each source: Debian registers psqlODBC with
# CommLog=1, and every connection would leave a psqlodbc_*.log in /tmp.
cat >"$dir/odbcinst.ini" <<INST
[PostgreSQL ANSI]
Description=PostgreSQL ODBC driver (ANSI)
Driver=$driver
CommLog=0
Debug=0
INST
if [ -n "$sqlite_driver" ]; then
  printf '\n[SQLite3]\nDriver=%s\n' "$sqlite_driver" >>"$dir/odbcinst.ini"
fi
# Protocol 7.4-0: psqlODBC itself rolls nothing back after an error, so the tests see the
# program's own savepoints keep the transaction alive.
cat >"$dir/odbc.ini" <<SOURCES
[zpg]
Driver=PostgreSQL ANSI
Servername=$PGHOST
Port=$PGPORT
Protocol=7.4-0
CommLog=0
Debug=0

# The same with psqlODBC's defaults (its own statement rollback), as an installation may have
# it: the differential test runs through it.
[zpgdefaults]
Driver=PostgreSQL ANSI
Servername=$PGHOST
Port=$PGPORT
CommLog=0
Debug=0

# Oracle's driver and database as their documents describe them, over zpg (its switches are
# environment variables, see the driver's source).
[zora]
Driver=$oracle_driver
Backend=zpg
Psqlodbc=$driver

[ZARVELT_PG]
Driver=PostgreSQL ANSI
Servername=$PGHOST
Port=$PGPORT
Database=postgres
CommLog=0
Debug=0
SOURCES
echo "export ODBCSYSINI='$dir' ODBCINI='$dir/odbc.ini'"
echo "export ZARVELT_TEST_ODBC_DSN=zpg ZARVELT_TEST_ODBC_ALIAS=ZARVELT_PG"
echo "export ZARVELT_TEST_ODBC_DEFAULTS_DSN=zpgdefaults ZARVELT_TEST_ODBC_ORACLE_DSN=zora"
